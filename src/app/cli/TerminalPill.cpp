#include "app/cli/TerminalPill.h"

#include "text/Graphemes.h"

#include <QMutexLocker>

namespace quenda {

namespace {
constexpr int lineWidth = 78;

// Three bars, as the pill's level meter: each lights up at a third of the range.
QString meter(const PillContent& content)
{
    if (!content.state.isListening())
        return QStringLiteral("···");
    QString bars;
    for (int i = 0; i < 3; ++i)
        bars += content.audioLevel > (i + 0.5f) / 3.0f ? QChar(u'▮') : QChar(u'▯');
    return bars;
}
} // namespace

TerminalPill::TerminalPill(QTextStream& stream, bool interactive)
    : m_stream(stream)
    , m_interactive(interactive)
{}

QString TerminalPill::render(const PillContent& content, int width)
{
    QString text;
    if (content.state.isProcessing())
        text = QStringLiteral("Enhancing...");
    else if (content.state.isError())
        text = content.state.message();
    else
        text = content.transcript.isEmpty() ? QStringLiteral("Listening...") : content.transcript;
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString head = meter(content) + QLatin1Char(' ');
    const qsizetype room = std::max<qsizetype>(8, width - head.size());
    const qsizetype length = graphemes::count(text);
    if (length > room) // the newest words stay visible
        text = QStringLiteral("…") + graphemes::dropPrefix(text, length - room + 1);
    return head + text;
}

void TerminalPill::show(const PillContent& content)
{
    QMutexLocker locker(&m_mutex);
    m_visible = true;
    draw(render(content, lineWidth));
}

void TerminalPill::refresh(const PillContent& content)
{
    QMutexLocker locker(&m_mutex);
    if (m_visible)
        draw(render(content, lineWidth));
}

void TerminalPill::fadeOutAndHide(double)
{
    QMutexLocker locker(&m_mutex);
    if (!m_visible)
        return;
    m_visible = false;
    if (m_interactive)
        m_stream << "\r\x1b[2K";
    m_stream.flush();
    m_lastLine.clear();
}

void TerminalPill::printAbove(QTextStream& out, const QString& line)
{
    QMutexLocker locker(&m_mutex);
    const bool redraw = m_interactive && m_visible && !m_lastLine.isEmpty();
    if (redraw) {
        m_stream << "\r\x1b[2K";
        m_stream.flush();
    }
    out << line << '\n';
    out.flush();
    if (redraw) {
        m_stream << m_lastLine;
        m_stream.flush();
    }
}

void TerminalPill::draw(const QString& line)
{
    if (line == m_lastLine)
        return;
    m_lastLine = line;
    if (m_interactive)
        m_stream << "\r\x1b[2K" << line;
    else
        m_stream << line << '\n';
    m_stream.flush();
}

} // namespace quenda
