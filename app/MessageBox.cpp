#include "app/MessageBox.h"

#include "platform/Forms.h"
#include "platform/SysUtils.h"

#include <QMessageBox>
#include <QPushButton>
#include <QString>

#include <utility>

namespace app {

namespace {

MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}

void ShowModalBox(const MessageBoxRequest& request)
{
    QMessageBox box;
    box.setWindowTitle(QString::fromStdString(request.Title));
    // Server replies and file names are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(request.Text));
    box.setIcon(request.Icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon);
    QPushButton* ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

} // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    return std::exchange(Hook(), std::move(hook));
}

void ShowMessageBox(const std::string& text, MessageIcon icon)
{
    const MessageBoxRequest request { platform::Application.Title, text, icon };
    // A copy: the hook may replace itself while it runs.
    if (MessageBoxHook hook = Hook()) {
        hook(request);
        return;
    }
    ShowModalBox(request);
}

std::string WithFinalPeriod(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + ".";
    return message;
}

void ReportException(std::exception_ptr error)
{
    if (!error)
        return;
    std::string message;
    try {
        std::rethrow_exception(error);
    } catch (const platform::Exception& e) {
        message = e.Message; // all of it, even past a NUL byte
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown exception";
    }
    ShowMessageBox(WithFinalPeriod(message), MessageIcon::Error);
}

} // namespace app
