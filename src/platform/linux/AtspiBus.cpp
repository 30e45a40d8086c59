#include "platform/linux/AtspiBus.h"

#include "base/Log.h"

#include <QAtomicInt>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>

namespace quenda {

namespace {

constexpr int addressTimeoutMsec = 1000;
const QString kRegistry = QStringLiteral("org.a11y.atspi.Registry");
const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");

std::optional<QString> busAddress()
{
    // The same order as the toolkits' own bridges: an explicit address, then the session's launcher.
    const QString fromEnvironment = qEnvironmentVariable("AT_SPI_BUS_ADDRESS");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected())
        return std::nullopt;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    const QDBusMessage reply = session.call(call, QDBus::Block, addressTimeoutMsec);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QString address = reply.arguments().constFirst().toString();
    return address.isEmpty() ? std::nullopt : std::optional(address);
}

bool isTimeout(const QDBusMessage& reply)
{
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Timeout");
}

} // namespace

std::unique_ptr<AtspiBus> AtspiBus::connect()
{
    const auto address = busAddress();
    if (!address)
        return nullptr;
    static QAtomicInt serial;
    const QString name = QStringLiteral("quenda-atspi-%1").arg(serial.fetchAndAddRelaxed(1));
    QDBusConnection connection = QDBusConnection::connectToBus(*address, name);
    if (!connection.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return nullptr;
    }
    return std::unique_ptr<AtspiBus>(new AtspiBus(connection, name));
}

AtspiBus::AtspiBus(QDBusConnection connection, QString name)
    : m_connection(std::move(connection))
    , m_name(std::move(name))
{}

AtspiBus::~AtspiBus()
{
    QDBusConnection::disconnectFromBus(m_name);
}

bool AtspiBus::isSkipped(const QString& service) const
{
    const auto it = m_skipped.constFind(service);
    return it != m_skipped.cend() && !it->hasExpired();
}

void AtspiBus::noteTimeout(const QString& service, int waitedMsec)
{
    // A wait cut short by the caller's own deadline says little about the application; a full one does.
    if (waitedMsec < callTimeoutMsec / 2)
        return;
    m_skipped.insert(service, QDeadlineTimer(unresponsiveSkipMsec));
    const auto process = m_processes.constFind(service);
    const QString who = process == m_processes.cend()
                            ? service
                            : QStringLiteral("%1 (process %2)").arg(service).arg(*process);
    log("Accessibility", QStringLiteral("%1 did not answer within %2 ms; skipping it for %3 s.")
                             .arg(who)
                             .arg(waitedMsec)
                             .arg(unresponsiveSkipMsec / 1000));
}

std::optional<QVariantList> AtspiBus::call(const QDeadlineTimer& deadline, const AtspiObject& object,
                                           const QString& interface, const QString& method,
                                           const QVariantList& arguments)
{
    if (object.service.isEmpty() || object.path.isEmpty() || isSkipped(object.service))
        return std::nullopt;
    qint64 wait = callTimeoutMsec;
    if (!deadline.isForever())
        wait = std::min<qint64>(wait, deadline.remainingTime());
    if (wait <= 0)
        return std::nullopt;
    QDBusMessage message = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
    message.setArguments(arguments);
    // QDBus::Block waits on a condition while QtDBus's own thread reads the socket and runs the timeout:
    // nothing is dispatched on this thread in the meantime.
    const QDBusMessage reply = m_connection.call(message, QDBus::Block, static_cast<int>(wait));
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply.arguments();
    if (isTimeout(reply))
        noteTimeout(object.service, static_cast<int>(wait));
    return std::nullopt;
}

std::optional<QVariant> AtspiBus::property(const QDeadlineTimer& deadline, const AtspiObject& object,
                                           const QString& interface, const QString& name)
{
    const auto reply = call(deadline, object, QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("Get"), {interface, name});
    if (!reply || reply->isEmpty() || !reply->constFirst().canConvert<QDBusVariant>())
        return std::nullopt;
    return qvariant_cast<QDBusVariant>(reply->constFirst()).variant();
}

QDBusPendingCall AtspiBus::asyncCall(const AtspiObject& object, const QString& interface,
                                     const QString& method, const QVariantList& arguments, int timeoutMsec)
{
    QDBusMessage message = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
    message.setArguments(arguments);
    return m_connection.asyncCall(message, timeoutMsec);
}

QList<AtspiObject> AtspiBus::applications(const QDeadlineTimer& deadline)
{
    const auto reply =
        call(deadline, AtspiObject{kRegistry, kRootPath}, kAccessible, QStringLiteral("GetChildren"));
    if (!reply || reply->isEmpty())
        return {};
    return objectList(reply->constFirst()).value_or(QList<AtspiObject>());
}

std::optional<qint64> AtspiBus::processOf(const QDeadlineTimer& deadline, const QString& service)
{
    if (const auto it = m_processes.constFind(service); it != m_processes.cend())
        return *it;
    const auto reply =
        call(deadline,
             AtspiObject{QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus")},
             QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"), {service});
    if (!reply || reply->isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 pid = reply->constFirst().toLongLong(&ok);
    if (!ok || pid <= 0)
        return std::nullopt;
    // A bus name is never reused for another process.
    m_processes.insert(service, pid);
    return pid;
}

std::optional<QList<AtspiObject>> AtspiBus::objectList(const QVariant& value)
{
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(so)"))
        return std::nullopt;
    QList<AtspiObject> objects;
    argument.beginArray();
    while (!argument.atEnd()) {
        QString service;
        QDBusObjectPath path;
        argument.beginStructure();
        argument >> service >> path;
        argument.endStructure();
        objects.append(AtspiObject{service, path.path()});
    }
    argument.endArray();
    return objects;
}

std::optional<AtspiObject> AtspiBus::object(const QVariant& value)
{
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("(so)"))
        return std::nullopt;
    QString service;
    QDBusObjectPath path;
    argument.beginStructure();
    argument >> service >> path;
    argument.endStructure();
    return AtspiObject{service, path.path()};
}

std::optional<QList<uint>> AtspiBus::uintList(const QVariant& value)
{
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("au"))
        return std::nullopt;
    QList<uint> values;
    argument.beginArray();
    while (!argument.atEnd()) {
        uint v = 0;
        argument >> v;
        values.append(v);
    }
    argument.endArray();
    return values;
}

std::optional<QStringList> AtspiBus::stringList(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QStringList>())
        return value.toStringList();
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("as"))
        return std::nullopt;
    QStringList values;
    argument.beginArray();
    while (!argument.atEnd()) {
        QString v;
        argument >> v;
        values.append(v);
    }
    argument.endArray();
    return values;
}

} // namespace quenda
