#pragma once

namespace quenda {

class CommandLine;

// `quenda clean "raw text" [--app ID]`: the real text enhancer with the user's stored credentials; the
// streamed pieces are printed as they arrive, then a line break and the result. Log lines go to standard
// error. Exit status 0 when the text was cleaned up, 1 when there is no route or the clean-up failed (the
// text printed is then the raw text).
void addCleanCommand(CommandLine& commandLine);

} // namespace quenda
