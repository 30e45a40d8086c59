#pragma once

namespace quenda {

class CommandLine;

// `quenda toggle|start|stop|open ID|quit`: drive the running tray application over the session bus.
void addRemoteCommands(CommandLine& commandLine);

} // namespace quenda
