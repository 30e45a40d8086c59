#include "app/FloatingPillLayout.h"

#include <QCoreApplication>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace quenda::pill {

namespace {
constexpr std::array<qreal, 3> multipliers{0.6, 1.0, 0.8};
} // namespace

int lineCount(const QString& text, const QFont& font, int width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        ++lines;
    }
    layout.endLayout();
    return lines;
}

std::array<qreal, 3> barHeights(float audioLevel, bool active)
{
    std::array<qreal, 3> heights{restingBarHeight, restingBarHeight, restingBarHeight};
    if (!active)
        return heights;
    const qreal level = std::isfinite(audioLevel) ? std::clamp<qreal>(audioLevel, 0, 1) : 0;
    for (std::size_t i = 0; i < heights.size(); ++i)
        heights[i] = level * 16 * multipliers[i] + restingBarHeight;
    return heights;
}

QColor barColor(bool active)
{
    if (active)
        return QColor(175, 82, 222);
    QColor grey(142, 142, 147);
    grey.setAlphaF(0.3f);
    return grey;
}

PillText textFor(const PillContent& content)
{
    if (content.state.isProcessing())
        return {QCoreApplication::translate("FloatingPillWindow", "Enhancing..."), true};
    if (content.transcript.isEmpty())
        return {QCoreApplication::translate("FloatingPillWindow", "Listening..."), false};
    // The pill is two lines high: a line break in the transcript would waste one.
    QString text = content.transcript;
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return {text, false};
}

QString elideHead(const QString& text, const QFont& font, int width, int maxLines)
{
    if (text.isEmpty() || lineCount(text, font, width) <= maxLines)
        return text;
    // The boundaries of the text's characters; the shortest ending that fits is found by bisection (a
    // shorter ending never needs more lines).
    QList<qsizetype> starts;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = 0; at >= 0 && at < text.size(); at = finder.toNextBoundary())
        starts.append(at);
    const QString ellipsis = QStringLiteral("…");
    qsizetype low = 1;
    qsizetype high = starts.size() - 1; // the last character alone always counts as fitting
    while (low < high) {
        const qsizetype middle = (low + high) / 2;
        if (lineCount(ellipsis + text.mid(starts[middle]), font, width) <= maxLines)
            high = middle;
        else
            low = middle + 1;
    }
    return ellipsis + text.mid(starts[high]).trimmed();
}

QSize sizeFor(int textHeight)
{
    return {maxWidth, std::max(meterSize, textHeight) + 2 * verticalPadding};
}

QPoint positionNearPointer(QPoint pointer, QSize size, const std::optional<QRect>& available)
{
    // Up and to the right: the pill's bottom-left corner sits 20 pixels from the pointer each way.
    const QPoint corner(pointer.x() + pointerOffset, pointer.y() - pointerOffset - size.height());
    return keepInside(QRect(corner, size), available);
}

QPoint keepInside(const QRect& rect, const std::optional<QRect>& available)
{
    if (!available)
        return rect.topLeft();
    const QRect& area = *available;
    const int x = std::max(area.left(), std::min(rect.left(), area.right() + 1 - rect.width()));
    const int y = std::max(area.top(), std::min(rect.top(), area.bottom() + 1 - rect.height()));
    return {x, y};
}

} // namespace quenda::pill
