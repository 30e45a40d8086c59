// The backend's server-sent events and its plain enhance replies.
#include "FuzzInput.h"
#include "net/QuendaAPIClient.h"
#include "net/SseLineReader.h"

#include <cstdlib>

using namespace quenda;

namespace {
QStringList tokensOf(const QList<QByteArray>& reads)
{
    QStringList tokens;
    SseLineReader reader;
    auto onLine = [&](QByteArrayView line) {
        const QuendaAPIClient::StreamLine parsed = QuendaAPIClient::parseStreamLine(line);
        if (parsed.token)
            tokens << *parsed.token;
        return !parsed.done;
    };
    for (const QByteArray& bytes : reads) {
        if (!reader.feed(bytes, onLine))
            return tokens;
    }
    reader.finish(onLine);
    return tokens;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QList<QByteArray> reads = fuzz::readsOf(bytes);
    if (tokensOf(reads) != tokensOf({reads.isEmpty() ? QByteArray() : bytes.mid(1)}))
        std::abort();
    const auto reply =
        QuendaAPIClient::parseEnhanceReply(QStringLiteral("transcript"), HttpResponse{200, bytes});
    if (reply.ok() && reply.value().text.isNull())
        std::abort();
    return 0;
}
