#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

class QLabel;
class QWidget;

namespace quenda {

// The small pictures the windows show next to their texts ("checkmark.circle.fill", "trash", "flame"…),
// drawn in one colour: their dark strokes take the colour, white cut-outs stay white.
namespace symbols {
// The symbol at `size` device-independent pixels for the widget's screen (sharp at any scale).
QPixmap pixmap(const QString& name, const QColor& color, int size, const QWidget* widget);
// A label showing the symbol; it keeps the symbol's name as its accessible name unless given one.
QLabel* label(const QString& name, const QColor& color, int size, const QString& accessibleName = {});
void setSymbol(QLabel* label, const QString& name, const QColor& color, int size);
} // namespace symbols

} // namespace quenda
