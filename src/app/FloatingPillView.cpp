#include "app/FloatingPillView.h"

#include "app/FloatingPillLayout.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

namespace quenda {

namespace {
QPainterPath capsule(const QRectF& rect)
{
    QPainterPath path;
    const qreal radius = rect.height() / 2;
    path.addRoundedRect(rect, radius, radius);
    return path;
}
} // namespace

FloatingPillView::FloatingPillView(QWidget* parent)
    : QWidget(parent)
{
    setAccessibleName(tr("Dictation"));
    m_drawnHeights = m_fromHeights = m_toHeights = pill::barHeights(0, false);
    m_levelAnimation.setDuration(pill::levelAnimationMsec);
    m_levelAnimation.setEasingCurve(QEasingCurve::InOutQuad);
    m_levelAnimation.setStartValue(0.0);
    m_levelAnimation.setEndValue(1.0);
    connect(&m_levelAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        const qreal t = value.toReal();
        for (std::size_t i = 0; i < m_drawnHeights.size(); ++i)
            m_drawnHeights[i] = m_fromHeights[i] + (m_toHeights[i] - m_fromHeights[i]) * t;
        update();
    });
    setContent(PillContent{DictationState::idle(), QString(), 0});
}

QFont FloatingPillView::captionFont() const
{
    // A caption is a step smaller than the desktop's body text.
    QFont caption = font();
    caption.setPointSizeF(caption.pointSizeF() * 12.0 / 13.0);
    return caption;
}

void FloatingPillView::setContent(const PillContent& content)
{
    const bool active = content.state.isListening();
    const auto heights = pill::barHeights(content.audioLevel, active);
    if (heights != m_toHeights) {
        m_fromHeights = m_drawnHeights;
        m_toHeights = heights;
        // A hidden pill jumps straight to the new level: nobody would see the movement.
        if (isVisible()) {
            m_levelAnimation.stop();
            m_levelAnimation.start();
        } else {
            m_drawnHeights = heights;
        }
    }
    m_content = content;
    const pill::PillText text = pill::textFor(content);
    m_shownText = pill::elideHead(text.text, captionFont(), pill::textWidth());
    setAccessibleDescription(m_shownText);
    const int lines = std::max(1, pill::lineCount(m_shownText, captionFont(), pill::textWidth()));
    resize(pill::sizeFor(lines * QFontMetrics(captionFont()).lineSpacing()));
    update();
}

void FloatingPillView::setCompositing(bool compositing)
{
    m_compositing = compositing;
    updateMask();
    update();
}

void FloatingPillView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateMask();
}

void FloatingPillView::updateMask()
{
    if (m_compositing)
        clearMask();
    else
        setMask(QRegion(capsule(rect()).toFillPolygon().toPolygon()));
}

void FloatingPillView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // The desktop's window colour, thinned like frosted glass where a compositor can blend it.
    QColor background = palette().color(QPalette::Window);
    if (m_compositing)
        background.setAlphaF(0.88f);
    painter.setBrush(background);
    if (m_compositing) {
        painter.setPen(Qt::NoPen);
        painter.drawPath(capsule(QRectF(rect())));
    } else {
        // Without a compositor there is no shadow: a fine outline sets the pill off from what lies below.
        painter.setPen(QPen(palette().color(QPalette::Mid), 1));
        painter.drawPath(capsule(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5)));
        painter.setPen(Qt::NoPen);
    }

    // The meter: three bars centred in a 24 × 24 square.
    const bool active = m_content.state.isListening();
    painter.setBrush(pill::barColor(active));
    const qreal meterLeft = pill::horizontalPadding;
    const qreal centreY = height() / 2.0;
    const qreal barsWidth = 3 * pill::barWidth + 2 * pill::barSpacing;
    qreal x = meterLeft + (pill::meterSize - barsWidth) / 2;
    for (const qreal barHeight : m_drawnHeights) {
        painter.drawRoundedRect(QRectF(x, centreY - barHeight / 2, pill::barWidth, barHeight),
                                pill::barCornerRadius, pill::barCornerRadius);
        x += pill::barWidth + pill::barSpacing;
    }

    // The text, wrapped exactly as its size was measured, centred vertically beside the meter.
    const pill::PillText text = pill::textFor(m_content);
    const QFont font = captionFont();
    painter.setPen(palette().color(text.secondary ? QPalette::PlaceholderText : QPalette::WindowText));
    QTextLayout layout(m_shownText, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal lineTop = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(pill::textWidth());
        line.setPosition(QPointF(0, lineTop));
        lineTop += line.height();
    }
    layout.endLayout();
    const qreal textLeft = pill::horizontalPadding + pill::meterSize + pill::spacing;
    layout.draw(&painter, QPointF(textLeft, centreY - lineTop / 2));
}

} // namespace quenda
