#pragma once

#include <QCoreApplication>

#include <memory>

namespace quenda {

class CommandLine;

// `quenda insert TEXT [--after SECONDS]` and `quenda read-focused`: the real insertion chain, from the
// command line, into whatever application is in front.
void addInsertCommands(CommandLine& commandLine);

// The desktop commands need a GUI application on the X11 platform (the clipboard lives there); every
// other command runs without a display. Without a usable display they get a plain application, and
// noDesktop() says why and fails.
std::unique_ptr<QCoreApplication> createApplicationFor(int& argc, char** argv);
int noDesktop(CommandLine& commandLine);

} // namespace quenda
