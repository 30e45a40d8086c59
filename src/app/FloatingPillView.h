#pragma once

#include "core/PillPresenter.h"

#include <QVariantAnimation>
#include <QWidget>

#include <array>

namespace quenda {

// Paints the pill: a capsule holding the three-bar level meter and one text of at most two lines. Layout
// only; what it shows comes from FloatingPillLayout.
class FloatingPillView final : public QWidget {
    Q_OBJECT
public:
    explicit FloatingPillView(QWidget* parent = nullptr);

    // Replaces the content and resizes the view to fit it.
    void setContent(const PillContent& content);
    const PillContent& content() const { return m_content; }
    // The text as drawn (cut at its head when long).
    const QString& shownText() const { return m_shownText; }

    // Without a compositor the capsule is cut out by a shape mask and painted opaque; with one it is
    // painted translucent with smooth edges.
    void setCompositing(bool compositing);

    // The bars' heights as currently drawn (they follow the level over a short animation).
    const std::array<qreal, 3>& drawnBarHeights() const { return m_drawnHeights; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QFont captionFont() const;
    void updateMask();

    PillContent m_content;
    QString m_shownText;
    bool m_compositing = false;
    std::array<qreal, 3> m_drawnHeights{};
    std::array<qreal, 3> m_fromHeights{};
    std::array<qreal, 3> m_toHeights{};
    QVariantAnimation m_levelAnimation;
};

} // namespace quenda
