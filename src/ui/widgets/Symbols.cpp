#include "ui/widgets/Symbols.h"

#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QWidget>

namespace quenda::symbols {

QPixmap pixmap(const QString& name, const QColor& color, int size, const QWidget* widget)
{
    const qreal ratio = widget ? widget->devicePixelRatioF() : 1.0;
    const int pixels = qRound(size * ratio);
    QImage image = QIcon(QStringLiteral(":/symbols/%1.svg").arg(name))
                       .pixmap(pixels, pixels)
                       .toImage()
                       .convertToFormat(QImage::Format_ARGB32);
    // Black becomes the colour, white stays white, the edges in between are mixed.
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(line[x]);
            if (alpha == 0)
                continue;
            const qreal light = qGray(line[x]) / 255.0;
            auto mix = [light](int from) { return qRound(from + (255 - from) * light); };
            line[x] = qRgba(mix(color.red()), mix(color.green()), mix(color.blue()),
                            qRound(alpha * color.alphaF()));
        }
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(ratio);
    return result;
}

void setSymbol(QLabel* label, const QString& name, const QColor& color, int size)
{
    label->setPixmap(pixmap(name, color, size, label));
    label->setFixedSize(size, size);
}

QLabel* label(const QString& name, const QColor& color, int size, const QString& accessibleName)
{
    auto* label = new QLabel;
    setSymbol(label, name, color, size);
    label->setAccessibleName(accessibleName.isEmpty() ? name : accessibleName);
    return label;
}

} // namespace quenda::symbols
