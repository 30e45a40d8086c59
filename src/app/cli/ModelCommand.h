#pragma once

namespace quenda {

class CommandLine;

// `quenda model list | download NAME | use PATH|NAME | remove NAME`: the whisper models of the catalogue,
// downloaded from "whisperModelURL" into the data folder, and the one the whisper engine uses
// ("whisperModelPath").
void addModelCommand(CommandLine& commandLine);

} // namespace quenda
