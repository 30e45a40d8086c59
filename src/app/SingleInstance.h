#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

namespace quenda {

// One Quenda per user session: the instance that owns the bus name com.quenda.Quenda is the one. A later
// start finds the name taken and hands its request to the owner instead. An instance started by a relaunch
// waits in the bus's queue for the name instead, so it takes over as soon as the old one has gone and never
// loses the race to it.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        Owner,          // this instance owns the name
        Waiting,        // queued behind the old instance; acquired() or gaveUp() follows
        AlreadyRunning, // another instance owns the name
        NoBus,          // the session bus cannot be reached
    };

    explicit SingleInstance(QDBusConnection bus, QObject* parent = nullptr);
    ~SingleInstance() override;

    // `queueBehindOwner`: wait for the name (up to `waitMsec`) when it is taken.
    Claim claim(bool queueBehindOwner, int waitMsec = 10000);
    bool isOwner() const { return m_owner; }
    // Gives the name up, e.g. before this instance quits.
    void release();

Q_SIGNALS:
    void acquired();
    void gaveUp();

private:
    void onNameAcquired(const QString& name);

    QDBusConnection m_bus;
    bool m_owner = false;
    bool m_waiting = false;
    QTimer m_waitLimit;
};

} // namespace quenda
