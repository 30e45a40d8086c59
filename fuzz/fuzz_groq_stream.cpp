// Groq's server-sent events as they arrive in pieces: the line reader and the line parser, and the same
// bytes as a plain reply. Every line must be handled without a crash; the pieces found must be the same
// however the bytes are cut into reads.
#include "FuzzInput.h"
#include "net/GroqClient.h"
#include "net/SseLineReader.h"

#include <cstdlib>

using namespace quenda;

namespace {
QStringList piecesOf(const QList<QByteArray>& reads)
{
    QStringList pieces;
    SseLineReader reader;
    auto onLine = [&](QByteArrayView line) {
        const GroqClient::StreamLine parsed = GroqClient::parseStreamLine(line);
        if (std::holds_alternative<GroqClient::EndOfStream>(parsed))
            return false;
        if (const QString* piece = std::get_if<QString>(&parsed))
            pieces << *piece;
        return true;
    };
    for (const QByteArray& bytes : reads) {
        if (!reader.feed(bytes, onLine))
            return pieces;
    }
    reader.finish(onLine);
    return pieces;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QList<QByteArray> reads = fuzz::readsOf(bytes);
    const QStringList cut = piecesOf(reads);
    const QStringList whole = piecesOf({reads.isEmpty() ? QByteArray() : bytes.mid(1)});
    if (cut != whole)
        std::abort(); // the reads must not change the lines
    (void)GroqClient::parseCompletion(HttpResponse{200, bytes});
    (void)GroqClient::parseCompletion(HttpResponse{500, bytes});
    return 0;
}
