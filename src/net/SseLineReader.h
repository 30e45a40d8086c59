#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

namespace quenda {

// Splits a byte stream into text lines as the bytes arrive, at "\n", "\r\n" and "\r" (a "\r\n" split across
// two reads is one terminator). Each complete line is handed on, without its terminator, before the next one
// is looked for, so a streamed piece reaches its consumer while the rest of the reply is still on its way.
// Lines may be of any length; only the unfinished last line is kept.
class SseLineReader {
public:
    // Return false to stop reading: the reader then drops what it holds and ignores further bytes.
    using LineHandler = std::function<bool(QByteArrayView line)>;

    // Hands on every line the bytes complete. False once a handler asked to stop.
    bool feed(QByteArrayView bytes, const LineHandler& onLine);
    // The stream has ended: hands on a last line that had no terminator. False once a handler asked to stop.
    bool finish(const LineHandler& onLine);

private:
    QByteArray m_buffer;
    qsizetype m_scanned = 0; // bytes of m_buffer already searched for a terminator
    bool m_afterCR = false;  // the last terminator was "\r": a "\n" right after it belongs to it
    bool m_stopped = false;
};

} // namespace quenda
