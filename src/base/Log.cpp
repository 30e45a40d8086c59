#include "base/Log.h"

#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

namespace quenda {

namespace {
QMutex& sinkMutex()
{
    static QMutex mutex;
    return mutex;
}

Log::Sink& currentSink()
{
    static Log::Sink sink;
    return sink;
}
} // namespace

void Log::line(const QString& tag, const QString& message)
{
    const QString text = QLatin1Char('[') + tag + QLatin1String("] ") + message;
    // Lines come from the main thread, the audio thread and network threads: one lock keeps them whole.
    QMutexLocker locker(&sinkMutex());
    if (currentSink()) {
        currentSink()(text);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

Log::Sink Log::setSink(Sink sink)
{
    QMutexLocker locker(&sinkMutex());
    Sink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

} // namespace quenda
