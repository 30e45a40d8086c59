#include "platform/linux/LinuxTrayHost.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <X11/Xlib.h>

namespace quenda {

namespace {
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr int askTimeoutMsec = 1000;
} // namespace

LinuxTrayHost::LinuxTrayHost()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    m_watcher.setConnection(bus);
    m_watcher.addWatchedService(watcherService);
    m_watcher.setWatchMode(QDBusServiceWatcher::WatchForRegistration);
    QObject::connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, &m_watcher, [this] {
        if (m_handler)
            m_handler();
    });
}

void LinuxTrayHost::probe(std::function<void(bool available)> done)
{
    if (hasXEmbedTray())
        return done(true);
    // The watcher is asked without waiting: a busy or stuck panel must not hold up the main thread.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return done(false);
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(get, askTimeoutMsec), &m_watcher);
    QObject::connect(call, &QDBusPendingCallWatcher::finished, call,
                     [done = std::move(done)](QDBusPendingCallWatcher* finished) {
                         const QDBusMessage reply = finished->reply();
                         finished->deleteLater();
                         done(reply.type() == QDBusMessage::ReplyMessage &&
                              reply.arguments().value(0).value<QDBusVariant>().variant().toBool());
                     });
}

bool LinuxTrayHost::hasXEmbedTray() const
{
    Display* display = m_x11.display();
    if (!display)
        return false;
    const QByteArray selection = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(display));
    return XGetSelectionOwner(display, m_x11.atom(selection.constData())) != None;
}

void LinuxTrayHost::setAppearanceHandler(std::function<void()> handler)
{
    m_handler = std::move(handler);
}

} // namespace quenda
