#include "net/SseLineReader.h"

namespace quenda {

bool SseLineReader::feed(QByteArrayView bytes, const LineHandler& onLine)
{
    if (m_stopped)
        return false;
    m_buffer.append(bytes.data(), bytes.size());
    qsizetype lineStart = 0;
    qsizetype i = m_scanned;
    const qsizetype size = m_buffer.size();
    while (i < size) {
        const char c = m_buffer.at(i);
        if (m_afterCR) {
            m_afterCR = false;
            if (c == '\n') {
                lineStart = ++i;
                continue;
            }
        }
        if (c == '\n' || c == '\r') {
            const QByteArrayView line(m_buffer.constData() + lineStart, i - lineStart);
            m_afterCR = c == '\r';
            lineStart = ++i;
            if (!onLine(line)) {
                m_stopped = true;
                m_buffer.clear();
                m_scanned = 0;
                return false;
            }
        } else {
            ++i;
        }
    }
    m_buffer.remove(0, lineStart);
    m_scanned = m_buffer.size();
    return true;
}

bool SseLineReader::finish(const LineHandler& onLine)
{
    if (m_stopped)
        return false;
    const QByteArray last = std::exchange(m_buffer, {});
    m_scanned = 0;
    if (!last.isEmpty() && !onLine(last)) {
        m_stopped = true;
        return false;
    }
    return true;
}

} // namespace quenda
