#include "ui/widgets/Style.h"

#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

namespace quenda::style {

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor color(Tone tone, const QPalette& palette)
{
    const bool dark = isDark(palette);
    switch (tone) {
    case Tone::primary:
        return palette.color(QPalette::WindowText);
    case Tone::secondary: {
        // Between the text and the window, readable on both light and dark palettes.
        const QColor text = palette.color(QPalette::WindowText);
        const QColor back = palette.color(QPalette::Window);
        const qreal mix = 0.38;
        return QColor::fromRgbF(text.redF() + (back.redF() - text.redF()) * mix,
                                text.greenF() + (back.greenF() - text.greenF()) * mix,
                                text.blueF() + (back.blueF() - text.blueF()) * mix);
    }
    case Tone::green:
        return dark ? QColor(0x4c, 0xc8, 0x70) : QColor(0x1e, 0x8e, 0x3e);
    case Tone::red:
        return dark ? QColor(0xff, 0x6b, 0x6b) : QColor(0xc6, 0x28, 0x28);
    case Tone::accent:
        return palette.color(QPalette::Highlight);
    }
    return palette.color(QPalette::WindowText);
}

void setTone(QWidget* widget, Tone tone)
{
    QPalette palette = widget->palette();
    const QColor c = color(tone, palette);
    palette.setColor(QPalette::WindowText, c);
    palette.setColor(QPalette::ButtonText, c);
    palette.setColor(QPalette::Text, c);
    widget->setPalette(palette);
}

void setTextStyle(QWidget* widget, TextStyle textStyle)
{
    QFont font = widget->font();
    const qreal base = QFont().pointSizeF();
    switch (textStyle) {
    case TextStyle::body:
        font.setPointSizeF(base);
        break;
    case TextStyle::headline:
        font.setPointSizeF(base * 1.1);
        font.setBold(true);
        break;
    case TextStyle::subheadline:
        font.setPointSizeF(base * 0.95);
        break;
    case TextStyle::caption:
        font.setPointSizeF(base * 0.85);
        break;
    case TextStyle::caption2:
        font.setPointSizeF(base * 0.78);
        break;
    }
    widget->setFont(font);
}

QLabel* label(const QString& text, TextStyle textStyle, Tone tone)
{
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    setText(label, text);
    setTextStyle(label, textStyle);
    if (tone != Tone::primary)
        setTone(label, tone);
    return label;
}

void setText(QLabel* label, const QString& text)
{
    if (label->text() == text)
        return;
    label->setText(text);
    label->setAccessibleName(text);
}

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QPushButton* button(const QString& text)
{
    auto* button = new QPushButton(text);
    button->setAccessibleName(text);
    button->setAutoDefault(false);
    return button;
}

QPushButton* plainButton(const QString& text, Tone tone)
{
    auto* button = style::button(text);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    setTextStyle(button, TextStyle::caption);
    setTone(button, tone);
    return button;
}

} // namespace quenda::style
