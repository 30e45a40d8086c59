#include "fakes/FileChecks.h"
#include "platform/linux/LinuxPermissionServices.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace quenda;
using Pane = PermissionServices::SettingsPane;

namespace {

class ProbeCounter final : public AutomationHelper {
public:
    bool probe() override
    {
        thread = QThread::currentThread();
        return works;
    }
    void sendKeys(const QString&, Sent sent) override { sent(QStringLiteral("not here")); }
    bool works = true;
    QThread* thread = nullptr;
};

void setAccessibility(bool enabled)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    call << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled")
         << QVariant::fromValue(QDBusVariant(enabled));
    QDBusConnection::sessionBus().call(call);
}

} // namespace

class TestLinuxPermissions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void accessibilityIsTheAtSpiBus()
    {
        ProbeCounter helper;
        LinuxPermissionServices permissions(helper);
        // Known from the bus in the background; a change is told.
        int changes = 0;
        permissions.setOnAccessibilityChanged([&] { ++changes; });
        QTRY_VERIFY(permissions.isAccessibilityTrusted()); // the session turned it on
        setAccessibility(false);
        QTRY_VERIFY(!permissions.isAccessibilityTrusted());
        permissions.promptForAccessibility();
        QTRY_VERIFY(permissions.isAccessibilityTrusted());
        QCOMPARE(changes, 3);
        // The keyboard extensions are there in the session.
        QVERIFY(permissions.canListenToEvents());
        QVERIFY(permissions.canPostEvents());
    }

    void automationProbeRunsOffTheMainThread()
    {
        ProbeCounter helper;
        LinuxPermissionServices permissions(helper);
        for (bool works : {true, false}) {
            helper.works = works;
            std::optional<bool> outcome;
            permissions.probeAutomation([&](bool ok) {
                QMetaObject::invokeMethod(QCoreApplication::instance(), [&outcome, ok] { outcome = ok; });
            });
            QTRY_VERIFY(outcome.has_value());
            QCOMPARE(*outcome, works);
            QVERIFY(helper.thread && helper.thread != QThread::currentThread());
        }
    }

    void helpPageWhereTheDesktopHasNoSettings()
    {
        // A stand-in for the desktop's URL opener records what it was asked to open.
        QTemporaryDir bin;
        const QString log = bin.filePath(QStringLiteral("opened"));
        QFile opener(bin.filePath(QStringLiteral("xdg-open")));
        QVERIFY(fakes::writeFile(opener.fileName(), "#!/bin/sh\necho \"$@\" >> '" + log.toUtf8() + "'\n"));
        opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8());
        qputenv("XDG_CURRENT_DESKTOP", "openbox");

        ProbeCounter helper;
        LinuxPermissionServices permissions(helper);
        QVERIFY(permissions.openSettingsPane(Pane::accessibility));
        QTRY_VERIFY(!fakes::contents(log).isEmpty());
        QCOMPARE(fakes::contents(log).trimmed(),
                 QByteArray("https://quenda.app/help/linux-permissions#accessibility"));

        // No opener at all: a plain false, no crash.
        QFile::remove(opener.fileName());
        QVERIFY(!permissions.openSettingsPane(Pane::inputMonitoring));
        qputenv("PATH", path);
    }
};

QTEST_GUILESS_MAIN(TestLinuxPermissions)
#include "tst_linuxpermissions.moc"
