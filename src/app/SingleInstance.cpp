#include "app/SingleInstance.h"

#include "app/RemoteControl.h"
#include "base/Log.h"

#include <QDBusConnectionInterface>

namespace quenda {

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    m_waitLimit.setSingleShot(true);
    connect(&m_waitLimit, &QTimer::timeout, this, [this] {
        if (!m_waiting)
            return;
        m_waiting = false;
        // Leave the queue, or the name would come to an instance that has given up on it.
        if (m_bus.isConnected())
            m_bus.interface()->unregisterService(RemoteControl::serviceName);
        Q_EMIT gaveUp();
    });
}

SingleInstance::~SingleInstance()
{
    release();
}

SingleInstance::Claim SingleInstance::claim(bool queueBehindOwner, int waitMsec)
{
    QDBusConnectionInterface* bus = m_bus.isConnected() ? m_bus.interface() : nullptr;
    if (!bus)
        return Claim::NoBus;
    if (queueBehindOwner) {
        // The bus announces the name (NameAcquired) when it becomes ours.
        connect(bus, &QDBusConnectionInterface::serviceRegistered, this, &SingleInstance::onNameAcquired,
                Qt::UniqueConnection);
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus->registerService(RemoteControl::serviceName,
                             queueBehindOwner ? QDBusConnectionInterface::QueueService
                                              : QDBusConnectionInterface::DontQueueService,
                             QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        log("QuendaApp", QStringLiteral("The session bus refused the name: ") + reply.error().message());
        return Claim::NoBus;
    }
    switch (reply.value()) {
    case QDBusConnectionInterface::ServiceRegistered:
        m_owner = true;
        return Claim::Owner;
    case QDBusConnectionInterface::ServiceQueued:
        log("QuendaApp", QStringLiteral("Waiting for the previous instance to quit"));
        m_waiting = true;
        m_waitLimit.start(waitMsec);
        return Claim::Waiting;
    case QDBusConnectionInterface::ServiceNotRegistered:
        break;
    }
    return Claim::AlreadyRunning;
}

void SingleInstance::onNameAcquired(const QString& name)
{
    if (name != RemoteControl::serviceName || !m_waiting)
        return;
    m_waiting = false;
    m_waitLimit.stop();
    m_owner = true;
    Q_EMIT acquired();
}

void SingleInstance::release()
{
    if (m_owner && m_bus.isConnected())
        m_bus.interface()->unregisterService(RemoteControl::serviceName);
    m_owner = false;
}

} // namespace quenda
