#include "ui/widgets/Spinner.h"

#include <QPainter>

namespace quenda {

Spinner::Spinner(int size, QWidget* parent)
    : QWidget(parent)
    , m_color(palette().color(QPalette::WindowText))
{
    setFixedSize(size, size);
    setAccessibleName(tr("In progress"));
    m_timer.setInterval(50);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

void Spinner::setColor(const QColor& color)
{
    m_color = color;
    update();
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = qMax(1.5, width() / 8.0);
    painter.setPen(QPen(m_color, pen, Qt::SolidLine, Qt::RoundCap));
    const QRectF box = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    painter.drawArc(box, -m_angle * 16, 270 * 16);
}

void Spinner::showEvent(QShowEvent* event)
{
    m_timer.start();
    QWidget::showEvent(event);
}

void Spinner::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

} // namespace quenda
