#include "app/LaunchAtLogin.h"
#include "fakes/FileChecks.h"
#include "fakes/LogCapture.h"
#include "platform/linux/XdgAutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;

class TestLaunchAtLogin : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void execValueQuotesWhatTheFormatReserves_data();
    void execValueQuotesWhatTheFormatReserves();
    void onAndOffThroughTheAutostartEntry();
    void statusFollowsTheDesktopsOwnSwitches_data();
    void statusFollowsTheDesktopsOwnSwitches();
    void refusalIsLogged();

private:
    std::unique_ptr<QTemporaryDir> m_home;
};

void TestLaunchAtLogin::init()
{
    m_home = std::make_unique<QTemporaryDir>(); // every case starts from an empty configuration folder
    QVERIFY(m_home->isValid());
    qputenv("XDG_CONFIG_HOME", m_home->path().toUtf8());
}

void TestLaunchAtLogin::execValueQuotesWhatTheFormatReserves_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << "/usr/bin/quenda"
                           << "/usr/bin/quenda";
    QTest::newRow("space") << "/opt/my apps/quenda"
                           << "\"/opt/my apps/quenda\"";
    QTest::newRow("percent") << "/opt/100%/quenda"
                             << "/opt/100%%/quenda";
    QTest::newRow("dollar and quote") << "/opt/$x\"y/quenda"
                                      << "\"/opt/\\\\$x\\\\\"y/quenda\"";
}

void TestLaunchAtLogin::execValueQuotesWhatTheFormatReserves()
{
    QFETCH(QString, program);
    QFETCH(QString, exec);
    QCOMPARE(XdgAutostartEntry::execValue(program), exec);
}

void TestLaunchAtLogin::onAndOffThroughTheAutostartEntry()
{
    XdgAutostartEntry entry(QStringLiteral("/opt/my apps/quenda"));
    LaunchAtLogin launch(entry);
    QVERIFY(!launch.isLaunchAtLoginEnabled());
    launch.enableLaunchAtLogin();
    QVERIFY(launch.isLaunchAtLoginEnabled());
    const QString path = m_home->filePath(QStringLiteral("autostart/com.quenda.Quenda.desktop"));
    QCOMPARE(XdgAutostartEntry::entryPath(), path);
    QCOMPARE(QFile(path).permissions() &
                 (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
             QFileDevice::Permissions()); // the user's only
    // The entry is one every desktop accepts.
    QProcess validate;
    validate.start(QStringLiteral("desktop-file-validate"), {path});
    QVERIFY(validate.waitForFinished(10000));
    QVERIFY2(validate.exitCode() == 0 && validate.exitStatus() == QProcess::NormalExit,
             validate.readAllStandardOutput().constData());
    launch.enableLaunchAtLogin(); // again: still one entry, still on
    QVERIFY(launch.isLaunchAtLoginEnabled());
    launch.disableLaunchAtLogin();
    QVERIFY(!launch.isLaunchAtLoginEnabled());
    QVERIFY(!QFile::exists(path));
    launch.disableLaunchAtLogin(); // off stays off, without complaint
}

void TestLaunchAtLogin::statusFollowsTheDesktopsOwnSwitches_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("enabled");
    const QByteArray head = "[Desktop Entry]\nType=Application\nName=Quenda\nExec=quenda\n";
    QTest::newRow("hidden") << head + "Hidden=true\n" << false;
    QTest::newRow("switched off in the session settings") << head + "X-GNOME-Autostart-enabled=false\n"
                                                          << false;
    QTest::newRow("switch of another group") << head + "[Desktop Action x]\nHidden=true\n" << true;
    QTest::newRow("not a desktop entry") << QByteArray("\x00\xff garbage", 10) << false;
}

void TestLaunchAtLogin::statusFollowsTheDesktopsOwnSwitches()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, enabled);
    QVERIFY(fakes::writeFile(XdgAutostartEntry::entryPath(), contents));
    XdgAutostartEntry entry(QStringLiteral("/usr/bin/quenda"));
    QCOMPARE(entry.isRegistered(), enabled);
}

void TestLaunchAtLogin::refusalIsLogged()
{
    // A file where the autostart folder belongs: the desktop cannot take the entry.
    const QString blocker = m_home->filePath(QStringLiteral("autostart"));
    QVERIFY(fakes::writeFile(blocker, {}));
    XdgAutostartEntry entry(QStringLiteral("/usr/bin/quenda"));
    LaunchAtLogin launch(entry);
    fakes::LogCapture logs;
    launch.enableLaunchAtLogin();
    QVERIFY(!launch.isLaunchAtLoginEnabled());
    const QStringList lines = logs.linesWith(QStringLiteral("[Quenda] Failed to enable launch at login: "));
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines.first().contains(blocker));
    QVERIFY(QFileInfo(blocker).isFile()); // nothing of the user's was replaced
}

QTEST_GUILESS_MAIN(TestLaunchAtLogin)
#include "tst_launchatlogin.moc"
