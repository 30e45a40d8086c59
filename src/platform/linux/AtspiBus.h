#pragma once

#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

namespace quenda {

// An object on the accessibility bus: the bus name of its application and its object path.
struct AtspiObject {
    QString service;
    QString path;
    bool operator==(const AtspiObject&) const = default;
};

// Quenda's own connection to the accessibility bus, speaking its D-Bus protocol directly. Every call has a
// bounded wait that QtDBus's connection thread enforces, so a target that never answers costs at most that
// wait, and no handler of Quenda's runs while a call is out. An application that lets a call time out is
// skipped for a while, so one frozen application cannot slow every search down. Used from one thread at
// a time.
class AtspiBus {
public:
    // Null when there is no accessibility bus to connect to.
    static std::unique_ptr<AtspiBus> connect();
    ~AtspiBus();
    AtspiBus(const AtspiBus&) = delete;
    AtspiBus& operator=(const AtspiBus&) = delete;

    // The longest one call may wait for its answer.
    static constexpr int callTimeoutMsec = 1500;
    // How long an application that let a call time out is skipped.
    static constexpr int unresponsiveSkipMsec = 15000;

    // The reply's arguments; nothing when the call failed, timed out, the deadline has passed, or the
    // application is being skipped.
    std::optional<QVariantList> call(const QDeadlineTimer& deadline, const AtspiObject& object,
                                     const QString& interface, const QString& method,
                                     const QVariantList& arguments = {});
    std::optional<QVariant> property(const QDeadlineTimer& deadline, const AtspiObject& object,
                                     const QString& interface, const QString& name);
    // The same call without waiting, for actions whose target may need Quenda's event loop before it
    // answers (a Paste item asks Quenda for the clipboard it owns).
    QDBusPendingCall asyncCall(const AtspiObject& object, const QString& interface, const QString& method,
                               const QVariantList& arguments, int timeoutMsec);

    // The applications registered on the bus, each as its root object.
    QList<AtspiObject> applications(const QDeadlineTimer& deadline);
    // The process of an application's bus name; nothing when the bus cannot say.
    std::optional<qint64> processOf(const QDeadlineTimer& deadline, const QString& service);

    bool isSkipped(const QString& service) const;

    // Decoders of the protocol's reply types; nothing when the value has another D-Bus signature.
    static std::optional<QList<AtspiObject>> objectList(const QVariant& value);
    static std::optional<AtspiObject> object(const QVariant& value);
    static std::optional<QList<uint>> uintList(const QVariant& value);
    static std::optional<QStringList> stringList(const QVariant& value);

private:
    AtspiBus(QDBusConnection connection, QString name);
    void noteTimeout(const QString& service, int waitedMsec);

    QDBusConnection m_connection;
    QString m_name;
    QHash<QString, qint64> m_processes;
    QHash<QString, QDeadlineTimer> m_skipped;
};

} // namespace quenda
