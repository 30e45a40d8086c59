#include "app/PlaceholderWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quenda {

PlaceholderWindow::PlaceholderWindow(const QString& title, const QString& heading, const QString& text,
                                     QWidget* parent)
    : QWidget(parent)
    , m_layout(new QVBoxLayout(this))
    , m_switches(new QVBoxLayout)
{
    setWindowTitle(title);
    setAccessibleName(title);
    auto* headingLabel = new QLabel(heading);
    QFont headingFont = headingLabel->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.2);
    headingLabel->setFont(headingFont);
    headingLabel->setAccessibleName(heading);
    auto* body = new QLabel(text);
    body->setWordWrap(true);
    body->setTextInteractionFlags(Qt::TextSelectableByMouse);
    body->setAccessibleName(text);
    m_layout->setContentsMargins(16, 16, 16, 16);
    m_layout->setSpacing(12);
    m_layout->addWidget(headingLabel);
    m_layout->addWidget(body);
    m_layout->addLayout(m_switches);
    m_layout->addStretch();
    setMinimumWidth(420);
}

void PlaceholderWindow::addSwitch(const QString& label, std::function<bool()> read,
                                  std::function<void(bool on)> write)
{
    auto* box = new QCheckBox(label);
    box->setAccessibleName(label);
    box->setChecked(read());
    connect(this, &PlaceholderWindow::shown, box, [box, read] {
        const QSignalBlocker quiet(box);
        box->setChecked(read());
    });
    connect(box, &QCheckBox::toggled, this, [box, read, write](bool on) {
        write(on);
        // The switch shows what really happened, e.g. when the desktop refused.
        const QSignalBlocker quiet(box);
        box->setChecked(read());
    });
    m_switches->addWidget(box);
}

void PlaceholderWindow::addButton(const QString& label, std::function<void()> action)
{
    auto* button = new QPushButton(label);
    button->setAccessibleName(label);
    button->setDefault(true);
    connect(button, &QPushButton::clicked, this, [action] { action(); });
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(button);
    m_layout->addLayout(row);
}

void PlaceholderWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Q_EMIT shown();
}

} // namespace quenda
