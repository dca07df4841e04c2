#include "app/Application.h"
#include "app/TForm1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication qtApp(argc, argv);
    app::InstallApplication(qtApp);
    TForm1 form;
    form.show();
    QApplication::exec();
    return 0;
}
