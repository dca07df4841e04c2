// The window's tests need one Qt application, created before any test and
// set up as the program sets itself up.

#include "app/Application.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv)
{
    // No display is needed (or wanted) for tests.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleMock(&argc, argv);
    QApplication qtApp(argc, argv);
    app::InstallApplication(qtApp);
    return RUN_ALL_TESTS();
}
