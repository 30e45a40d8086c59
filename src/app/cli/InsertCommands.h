#pragma once

#include <QCoreApplication>

#include <memory>
#include <optional>

namespace quenda {

class CommandLine;

// `quenda insert TEXT [--after SECONDS]` and `quenda read-focused`: the real insertion chain, from the
// command line, into whatever application is in front.
void addInsertCommands(CommandLine& commandLine);

// The desktop commands need a GUI application on the X11 platform (the clipboard lives there), and the tray
// application a widgets one; every other command runs without a display. Without a usable display they get
// a plain application, and noDesktop() says why and fails.
std::unique_ptr<QCoreApplication> createApplicationFor(int& argc, char** argv);
int noDesktop(CommandLine& commandLine);
// Why the X11 display named by DISPLAY could not be used, when createApplicationFor found it so.
std::optional<QString> desktopProblem();
// `quenda` alone, or as started by a relaunch: the tray application.
bool isTrayApplication(int argc, char** argv);

} // namespace quenda
