#pragma once

#include <QColor>
#include <QString>

class QFrame;
class QLabel;
class QPalette;
class QPushButton;
class QWidget;

namespace quenda {

// The look the windows share, over the desktop's own palette (light or dark): text tones, the text
// styles (headline, caption), and the few controls every window builds.
namespace style {

enum class Tone { primary, secondary, green, red, accent };
enum class TextStyle { body, headline, subheadline, caption, caption2 };

QColor color(Tone tone, const QPalette& palette);
bool isDark(const QPalette& palette);
void setTone(QWidget* widget, Tone tone);
void setTextStyle(QWidget* widget, TextStyle style);

// A word-wrapped plain text; its accessible name is the text (screen readers announce labels by name).
QLabel* label(const QString& text, TextStyle style = TextStyle::body, Tone tone = Tone::primary);
// A label whose text changes: setText keeps the accessible name in step.
void setText(QLabel* label, const QString& text);
QFrame* divider();
QPushButton* button(const QString& text);
// A borderless button in caption text ("Reset", "Cancel" beside the hotkey).
QPushButton* plainButton(const QString& text, Tone tone = Tone::secondary);

} // namespace style

} // namespace quenda
