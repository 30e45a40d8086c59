#include "app/WindowRouter.h"

#include "base/Log.h"
#include "platform/WindowActivation.h"

#include <QWidget>

namespace quenda {

namespace {
// A window manager may still be mapping a new window when the first request arrives: ask again a few times.
constexpr int activationTries = 10;
constexpr int activationRetryMsec = 50;
} // namespace

WindowRouter::WindowRouter(WindowActivation& activation, QObject* parent)
    : QObject(parent)
    , m_activation(activation)
{}

WindowRouter::~WindowRouter()
{
    qDeleteAll(m_windows);
}

void WindowRouter::setFactory(const QString& id, Factory factory)
{
    m_factories.insert(id, std::move(factory));
}

QWidget* WindowRouter::window(const QString& id) const
{
    return m_windows.value(id);
}

QWidget* WindowRouter::open(const QString& id)
{
    QWidget* window = m_windows.value(id);
    if (!window) {
        const auto factory = m_factories.constFind(id);
        if (factory == m_factories.cend()) {
            log("QuendaApp", QStringLiteral("No window named \"%1\"").arg(id));
            return nullptr;
        }
        window = (*factory)().release();
        window->setAttribute(Qt::WA_DeleteOnClose, false); // closing hides; the window is kept
        m_windows.insert(id, window);
    }
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
    activateUntilActive(window, activationTries);
    Q_EMIT opened(id);
    return window;
}

void WindowRouter::activateUntilActive(QWidget* window, int triesLeft)
{
    if (window->isActiveWindow() || !window->isVisible() || triesLeft == 0)
        return;
    m_activation.activate(window->winId());
    QPointer<QWidget> guard(window);
    QTimer::singleShot(activationRetryMsec, this, [this, guard, triesLeft] {
        if (guard)
            activateUntilActive(guard, triesLeft - 1);
    });
}

} // namespace quenda
