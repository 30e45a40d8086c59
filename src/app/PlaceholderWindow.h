#pragma once

#include <QWidget>

#include <functional>

class QVBoxLayout;

namespace quenda {

// A plain window with a heading, a paragraph, optional switches and buttons: what a window shows until its
// full version exists. Switches read their value afresh each time the window is shown.
class PlaceholderWindow final : public QWidget {
    Q_OBJECT
public:
    PlaceholderWindow(const QString& title, const QString& heading, const QString& text,
                      QWidget* parent = nullptr);

    void addSwitch(const QString& label, std::function<bool()> read, std::function<void(bool on)> write);
    void addButton(const QString& label, std::function<void()> action);

protected:
    void showEvent(QShowEvent* event) override;

Q_SIGNALS:
    void shown();

private:
    QVBoxLayout* m_layout;
    QVBoxLayout* m_switches;
};

} // namespace quenda
