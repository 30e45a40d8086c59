// The training log's reader: any file contents decode to some entries, and what decodes encodes back to
// lines that decode to the same entries.
#include "FuzzInput.h"
#include "training/TrainingDataLogger.h"

#include <cstdlib>

using namespace quenda;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<TrainingEntry> entries = TrainingDataLogger::decodeLog(fuzz::bytesOf(data, size));
    QByteArray rewritten;
    for (const TrainingEntry& entry : entries)
        rewritten += TrainingDataLogger::encodeLine(entry) + '\n';
    if (TrainingDataLogger::decodeLog(rewritten) != entries)
        std::abort();
    return 0;
}
