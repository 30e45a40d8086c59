#pragma once

#include "core/PillPresenter.h"

#include <QMutex>
#include <QTextStream>

namespace quenda {

// The floating pill, drawn as one line of a terminal: the state, a three-step level meter and the live
// transcript (its newest words when it is long). On a terminal the line is rewritten in place; anywhere
// else every change is a line of its own.
class TerminalPill final : public PillPresenter {
public:
    TerminalPill(QTextStream& stream, bool interactive);

    void show(const PillContent& content) override;
    void refresh(const PillContent& content) override;
    void fadeOutAndHide(double seconds) override;

    // Writes a log line to `out` without tearing the pill: the pill's line is cleared first and drawn again
    // below it. Safe from any thread.
    void printAbove(QTextStream& out, const QString& line);

    // The line as shown for a content, at most `width` characters.
    static QString render(const PillContent& content, int width);

private:
    void draw(const QString& line);

    QMutex m_mutex;
    QTextStream& m_stream;
    bool m_interactive;
    bool m_visible = false;
    QString m_lastLine;
};

} // namespace quenda
