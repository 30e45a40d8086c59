#pragma once

#include <QString>

#include <functional>

namespace quenda {

// Every component logs plain "[Tag] message" lines on standard output; there are no levels and no log file.
// Tests install a sink to read the lines the system writes.
class Log {
public:
    using Sink = std::function<void(const QString& line)>;

    static void line(const QString& tag, const QString& message);

    // Replaces standard output as the destination; an empty sink restores it. Returns the previous sink.
    static Sink setSink(Sink sink);
};

// "[Tag] message" helper for the common case.
inline void log(const char* tag, const QString& message)
{
    Log::line(QString::fromLatin1(tag), message);
}

} // namespace quenda
