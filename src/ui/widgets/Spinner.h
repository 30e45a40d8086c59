#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

namespace quenda {

// A small progress indicator (a turning arc) for work of unknown length. It turns only while shown, so a
// hidden one wakes nothing.
class Spinner final : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(int size, QWidget* parent = nullptr);
    void setColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer m_timer;
    QColor m_color;
    int m_angle = 0;
};

} // namespace quenda
