#include "app/Application.h"

#include "app/LoopBridge.h"
#include "app/MessageBox.h"
#include "platform/Forms.h"

#include <QCoreApplication>

// The resource file is linked into a static library; register it by hand
// (outside any namespace, as the macro requires).
static void InitTaviroResources()
{
    Q_INIT_RESOURCE(taviro);
}

namespace app {

void InitResources()
{
    InitTaviroResources();
}

std::string ApplicationTitle(const std::string& executablePath)
{
    const std::size_t slash = executablePath.find_last_of('/');
    std::string title = slash == std::string::npos ? executablePath : executablePath.substr(slash + 1);
    title = title.substr(0, title.find('.'));
    for (std::size_t i = 1; i < title.size(); ++i)
        if (title[i] >= 'A' && title[i] <= 'Z')
            title[i] = static_cast<char>(title[i] - 'A' + 'a');
    return title;
}

void InstallApplication(QApplication& qtApp)
{
    InitResources();
    platform::Application.Title = ApplicationTitle(QCoreApplication::applicationFilePath().toStdString());
    platform::Application.OnException = ReportException;
    // Lives as long as Qt's application object and detaches with it.
    new LoopBridge(&qtApp);
}

} // namespace app
