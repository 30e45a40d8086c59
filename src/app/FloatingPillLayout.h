#pragma once

#include "core/PillPresenter.h"

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <array>
#include <optional>

// The pill's geometry and content as pure functions, so the window only paints what they decide.
namespace quenda::pill {

constexpr int maxWidth = 320;
constexpr int horizontalPadding = 16;
constexpr int verticalPadding = 10;
constexpr int meterSize = 24;
constexpr int spacing = 12;
constexpr int pointerOffset = 20;
constexpr int maxTextLines = 2;
constexpr qreal barWidth = 3;
constexpr qreal barSpacing = 2;
constexpr qreal barCornerRadius = 1;
constexpr qreal restingBarHeight = 4;
constexpr int levelAnimationMsec = 150;

// Bar heights, left to right: level × 16 × (0.6, 1.0, 0.8) + 4 while listening, else 4 each. Levels outside
// 0…1 are clamped, so a bad reading never draws outside the meter.
std::array<qreal, 3> barHeights(float audioLevel, bool active);
// Purple while listening; grey at 30 % opacity otherwise.
QColor barColor(bool active);

// What the text line says and whether it is drawn in the secondary colour.
struct PillText {
    QString text;
    bool secondary = false;
    bool operator==(const PillText&) const = default;
};
PillText textFor(const PillContent& content);

// Lines the text wraps into at the given width (at word boundaries, inside a word only when it must).
int lineCount(const QString& text, const QFont& font, int width);
// The text cut at its head ("…" then the end) so that it wraps into at most `maxLines` lines of `width`
// pixels; the whole text when it fits. Never splits a character.
QString elideHead(const QString& text, const QFont& font, int width, int maxLines = maxTextLines);
// Width available to the text inside a pill of the widest size.
constexpr int textWidth()
{
    return maxWidth - 2 * horizontalPadding - meterSize - spacing;
}
// The pill's outer size for text of the given height: always the full width, as tall as the content.
QSize sizeFor(int textHeight);

// Where the pill goes: up and to the right of the pointer (20 pixels each way), pushed back inside the
// available area of the pointer's screen; at the offset point itself when no screen is known.
QPoint positionNearPointer(QPoint pointer, QSize size, const std::optional<QRect>& available);
// The top-left corner that moves the rectangle by the least into the available area (its own when unknown).
QPoint keepInside(const QRect& rect, const std::optional<QRect>& available);

} // namespace quenda::pill
