#pragma once

// Start-up of the program around Qt: the application title, the top-level
// error report and the one event loop shared by Qt and the platform layer.

#include <QApplication>

#include <string>

namespace app {

// The title of a program at `executablePath`: its file name up to the first
// ".", every letter after the first in lower case ("/opt/TAVIRO.bin" gives
// "Taviro"). Only ASCII letters change case.
std::string ApplicationTitle(const std::string& executablePath);

// Registers the pictures (icon, glyphs, tab images, photograph) under
// ":/taviro/"; safe to call more than once.
void InitResources();

// Call once, after the QApplication exists and before the window is created:
// sets platform::Application's Title from the executable and its OnException
// to the error report, and lets the platform's messages and timers run inside
// Qt's loops (and Qt's events inside the platform's waits) for as long as
// `qtApp` lives.
void InstallApplication(QApplication& qtApp);

} // namespace app
