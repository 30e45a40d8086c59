#pragma once

namespace quenda {

class CommandLine;

// `quenda transcribe FILE.wav` and `quenda listen`: the configured speech engine on a recording or on the
// default microphone, printing partial results as they come ("… text") and then the final text.
void addCaptureCommands(CommandLine& commandLine);

} // namespace quenda
