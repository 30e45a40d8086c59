#include "DesktopRig.h"
#include "app/RemoteControl.h"
#include "app/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QSignalSpy>
#include <QTest>

using namespace quenda;
using namespace desktop;

namespace {
QDBusConnection connection(const QString& name)
{
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
}
} // namespace

class TestRemoteControl : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void anUnknownWindowNeverReachesTheInstance();
    void stateIsAProperty();
    void withoutAnInstanceTheCommandSaysSo();
    void oneInstancePerSessionAndTheRelaunchWaitsItsTurn();

private:
    QStringList m_actions;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<RemoteControl> m_remote;
};

void TestRemoteControl::initTestCase()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(bus.isConnected());
    m_instance = std::make_unique<SingleInstance>(bus);
    QCOMPARE(m_instance->claim(false), SingleInstance::Claim::Owner);
    RemoteControl::Actions actions;
    actions.toggle = [this] { m_actions << QStringLiteral("toggle"); };
    actions.start = [this] { m_actions << QStringLiteral("start"); };
    actions.stop = [this] { m_actions << QStringLiteral("stop"); };
    actions.openWindow = [this](const QString& id) { m_actions << QStringLiteral("open ") + id; };
    actions.quit = [this] { m_actions << QStringLiteral("quit"); };
    m_remote = std::make_unique<RemoteControl>(bus, actions);
    QVERIFY(m_remote->exportObject());
}

// Toggling and opening windows from the command line are driven against the real tray application on the
// desktop; here the refusal.
void TestRemoteControl::anUnknownWindowNeverReachesTheInstance()
{
    const Run run = runQuenda({QStringLiteral("open"), QStringLiteral("nowhere")});
    QVERIFY2(run.status == 2, qPrintable(run.err));
    QTest::qWait(0);
    QVERIFY(m_actions.isEmpty());
}

void TestRemoteControl::stateIsAProperty()
{
    // Another client of the bus, as a panel applet or a script would be. (The change notices are the
    // tray test's, where a whole dictation goes through the states.)
    QDBusConnection client = connection(QStringLiteral("client"));
    m_remote->setState(DictationState::listening());
    // Asked without blocking: the instance answering is this very process.
    QDBusMessage get = QDBusMessage::createMethodCall(RemoteControl::serviceName, RemoteControl::objectPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << RemoteControl::interfaceName << QStringLiteral("State");
    QDBusPendingCall pending = client.asyncCall(get);
    QTRY_VERIFY(pending.isFinished());
    QCOMPARE(pending.reply().arguments().value(0).value<QDBusVariant>().variant().toString(),
             QStringLiteral("listening"));
    m_remote->setState(DictationState::idle());
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
}

void TestRemoteControl::withoutAnInstanceTheCommandSaysSo()
{
    m_remote.reset();
    m_instance.reset();
    const Run run = runQuenda({QStringLiteral("toggle")});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(QStringLiteral("Quenda is not running")), qPrintable(run.err));
}

void TestRemoteControl::oneInstancePerSessionAndTheRelaunchWaitsItsTurn()
{
    // Each connection stands for one process of the session.
    auto first = std::make_unique<SingleInstance>(connection(QStringLiteral("first")));
    QCOMPARE(first->claim(false), SingleInstance::Claim::Owner);
    SingleInstance second(connection(QStringLiteral("second")));
    QCOMPARE(second.claim(false), SingleInstance::Claim::AlreadyRunning);

    // The relaunched instance queues for the name and gets it once the old one has gone.
    SingleInstance relaunched(connection(QStringLiteral("relaunched")));
    QSignalSpy acquired(&relaunched, &SingleInstance::acquired);
    QCOMPARE(relaunched.claim(true), SingleInstance::Claim::Waiting);
    QSignalSpy impatientGaveUp(&second, &SingleInstance::gaveUp);
    QCOMPARE(second.claim(true, 50), SingleInstance::Claim::Waiting); // behind the relaunch, and gives up
    QTRY_COMPARE(impatientGaveUp.count(), 1);
    QTest::qWait(100);
    QCOMPARE(acquired.count(), 0);
    // The old instance ends: its connection closes, and with it its claim on the name.
    first.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("first"));
    QTRY_COMPARE(acquired.count(), 1);
    QVERIFY(relaunched.isOwner());
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    QCOMPARE(bus->serviceOwner(RemoteControl::serviceName).value(),
             connection(QStringLiteral("relaunched")).baseService());
}

QTEST_GUILESS_MAIN(TestRemoteControl)
#include "tst_remotecontrol.moc"
