#include "app/FloatingPillWindow.h"

#include "app/FloatingPillLayout.h"
#include "app/FloatingPillView.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace quenda {

FloatingPillWindow::FloatingPillWindow(std::function<bool()> isCompositing)
    : m_isCompositing(std::move(isCompositing))
    , m_view(std::make_unique<FloatingPillView>())
{
    // Bypassing the window manager keeps it from managing, activating or decorating the pill; the window
    // also refuses focus and lets every click through to whatever lies below it.
    m_view->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                           Qt::X11BypassWindowManagerHint);
    m_view->setAttribute(Qt::WA_ShowWithoutActivating);
    m_view->setAttribute(Qt::WA_TranslucentBackground);
    m_view->setFocusPolicy(Qt::NoFocus);
    m_view->setWindowTitle(QStringLiteral("Quenda"));

    m_fade.setTargetObject(m_view.get());
    m_fade.setPropertyName("windowOpacity");
    m_fade.setEndValue(0.0);
    QObject::connect(&m_fade, &QPropertyAnimation::finished, m_view.get(), [view = m_view.get()] {
        view->hide();
        view->setWindowOpacity(1.0); // the next showing is opaque
    });
}

FloatingPillWindow::~FloatingPillWindow() = default;

bool FloatingPillWindow::isFading() const
{
    return m_fade.state() == QAbstractAnimation::Running;
}

void FloatingPillWindow::show(const PillContent& content)
{
    // A fade still running from the last dictation must not hide the pill of this one.
    m_fade.stop();
    m_view->setWindowOpacity(1.0);
    m_view->setCompositing(m_isCompositing && m_isCompositing());
    m_view->setContent(content);
    place();
    m_view->show();
    m_view->raise();
}

void FloatingPillWindow::refresh(const PillContent& content)
{
    const QRect before = m_view->geometry();
    m_view->setContent(content);
    if (m_view->isVisible() && m_view->height() != before.height()) {
        // The pill sits above the pointer: it grows and shrinks at its top, and stays inside the screen.
        const QRect after(QPoint(before.left(), before.bottom() + 1 - m_view->height()), m_view->size());
        const QScreen* screen = m_view->screen();
        m_view->move(
            pill::keepInside(after, screen ? std::optional(screen->availableGeometry()) : std::nullopt));
    }
}

void FloatingPillWindow::fadeOutAndHide(double seconds)
{
    if (!m_view->isVisible() || isFading())
        return;
    if (!m_isCompositing || !m_isCompositing() || seconds <= 0) {
        // Without a compositor the window manager cannot blend the window: hide it at once.
        m_view->hide();
        return;
    }
    m_fade.setDuration(static_cast<int>(seconds * 1000));
    m_fade.setStartValue(m_view->windowOpacity());
    m_fade.start();
}

void FloatingPillWindow::place()
{
    const QPoint pointer = QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(pointer);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const std::optional<QRect> available = screen ? std::optional(screen->availableGeometry()) : std::nullopt;
    m_view->move(pill::positionNearPointer(pointer, m_view->size(), available));
}

} // namespace quenda
