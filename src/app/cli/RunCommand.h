#pragma once

namespace quenda {

class CommandLine;

// `quenda run [--toggle]`: dictation for real, from a terminal. Hold the hotkey (or press it once with
// --toggle), speak, let go: the text goes into the focused field of the front application. The live
// transcript is shown as a line in the terminal; Ctrl+C quits.
void addRunCommand(CommandLine& commandLine);

} // namespace quenda
