// The tray application itself, in a session with a StatusNotifier tray of the test's own: its menu read and
// clicked over D-Bus as a desktop's panel does, a whole dictation with the hotkey held through XTest and a
// recording played into the microphone, one instance per session, and the relaunch after the one-time
// migration.
#include "DesktopRig.h"
#include "platform/linux/X11Workspace.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace desktop;

namespace {
void setFlag(const char* key, bool on)
{
    runQuenda({QStringLiteral("config"), QStringLiteral("set"), QString::fromLatin1(key),
               on ? QStringLiteral("true") : QStringLiteral("false"), QStringLiteral("--bool")});
}

QString activeWindowName()
{
    return run(QStringLiteral("xdotool"),
               {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")})
        .out.trimmed();
}

// Maps and unmaps of windows that bypass the window manager, as the pill does.
class PillWatch {
public:
    PillWatch()
        : m_display(XOpenDisplay(nullptr))
    {
        XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
        XSync(m_display, False);
    }
    ~PillWatch() { XCloseDisplay(m_display); }
    QStringList events()
    {
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            // Only Quenda's own: the window manager and the editor may show popups of their own.
            if (event.type == MapNotify && event.xmap.override_redirect && isQuendas(event.xmap.window)) {
                m_pill = event.xmap.window;
                m_events << QStringLiteral("shown");
            } else if (event.type == UnmapNotify && event.xunmap.window == m_pill &&
                       m_events.endsWith(QStringLiteral("shown"))) {
                m_events << QStringLiteral("hidden");
            }
        }
        return m_events;
    }

private:
    bool isQuendas(Window window)
    {
        XClassHint hint{};
        if (!XGetClassHint(m_display, window, &hint))
            return false;
        const bool ours = hint.res_name && QByteArray(hint.res_name).toLower().contains("quenda") &&
                          !QByteArray(hint.res_name).contains("fixture");
        XFree(hint.res_name);
        XFree(hint.res_class);
        return ours;
    }

    Display* m_display;
    Window m_pill = 0;
    QStringList m_events;
};
} // namespace

// State changes of the running Quenda, as any client of the bus sees them.
class StateNotices : public QObject {
    Q_OBJECT
public:
    QStringList states;
public Q_SLOTS:
    void changed(const QString&, const QVariantMap& properties, const QStringList&)
    {
        if (properties.contains(QStringLiteral("State")))
            states << properties.value(QStringLiteral("State")).toString();
    }
};

class TestTrayDesktop : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void dictationThroughTheTrayApplication();
    void relaunchAfterTheMigrationTakesOver();

private:
    // The rows of the newest tray item's menu: "-" for a separator, "(off)" after a disabled row.
    QStringList menu();
    bool click(const QString& label);

    FixtureProcess m_tray;
    QByteArray m_output;
};

void TestTrayDesktop::initTestCase()
{
    QVERIFY(m_tray.start(FixtureProcess::python(), {QStringLiteral(QUENDA_SNI_HOST)}));
}

QStringList TestTrayDesktop::menu()
{
    QStringList rows;
    for (const QJsonValue row : QJsonDocument::fromJson(m_tray.command("menu").mid(5)).array()) {
        const QJsonObject item = row.toObject();
        rows << (item.value(QLatin1String("type")).toString() == QLatin1String("separator")
                     ? QStringLiteral("-")
                     : item.value(QLatin1String("label")).toString() +
                           (item.value(QLatin1String("enabled")).toBool() ? QString()
                                                                          : QStringLiteral(" (off)")));
    }
    return rows;
}

bool TestTrayDesktop::click(const QString& label)
{
    for (const QJsonValue row : QJsonDocument::fromJson(m_tray.command("menu").mid(5)).array())
        if (row.toObject().value(QLatin1String("label")).toString() == label)
            return m_tray.ok("click " +
                             QByteArray::number(row.toObject().value(QLatin1String("id")).toInt()));
    return false;
}

void TestTrayDesktop::dictationThroughTheTrayApplication()
{
    if (!QFile::exists(kRecording))
        QSKIP("pocketsphinx-testdata is not installed");
    setFlag("hasCompletedOnboarding", true);
    setFlag("entitlementsMigration_0_3_17", true);
    FixtureProcess editor;
    QVERIFY(editor.start(QStringLiteral(QUENDA_FIXTURE_EDITOR), {}));
    QVERIFY(editor.ok("focus multi"));
    QVERIFY(editor.ok("activate"));

    StateNotices notices;
    QVERIFY(QDBusConnection::sessionBus().connect(
        QStringLiteral("com.quenda.Quenda"), QStringLiteral("/com/quenda/Quenda"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"), &notices,
        SLOT(changed(QString, QVariantMap, QStringList))));
    PillWatch pill;
    QProcess quenda;
    quenda.setProcessChannelMode(QProcess::MergedChannels);
    m_output.clear();
    quenda.start(QStringLiteral(QUENDA_BINARY), {});
    QVERIFY2(waitForOutput(quenda, m_output, "[QuendaApp] Tray icon shown"), m_output.constData());
    // The hotkey listens once the pipeline is wired, on the first turn of the event loop.
    QTRY_COMPARE_WITH_TIMEOUT(menu().value(1), QStringLiteral("No recent dictations (off)"), 10000);
    // Snippets added from a shell while Quenda runs serve the very next dictation.
    for (const char* word : kRecordedWords)
        QCOMPARE(runQuenda({QStringLiteral("snippets"), QStringLiteral("add"), QString::fromLatin1(word),
                            QString::fromLatin1(word).toUpper()})
                     .status,
                 0);
    const auto workspace = quenda::X11Workspace::create();
    QVERIFY2(workspace && bringForward(*workspace, editor.pid(), 20000),
             "the editor never came to the front");
    QTest::qWait(1000); // the microphone's first start is slow in a fresh sound server

    QVERIFY(holdRightControl(true));
    QTRY_VERIFY(notices.states.contains(QStringLiteral("listening")));
    QVERIFY2(waitForOutput(quenda, m_output, "[Audio] Installing tap"), m_output.constData());
    QProcess player;
    player.start(QStringLiteral("paplay"), {kRecording});
    QVERIFY(player.waitForFinished(60000));
    QTest::qWait(500);
    QVERIFY(holdRightControl(false));
    QTRY_VERIFY_WITH_TIMEOUT(notices.states.endsWith(QStringLiteral("idle")), 60000);
    QCOMPARE(notices.states, (QStringList{QStringLiteral("listening"), QStringLiteral("processing"),
                                          QStringLiteral("idle")}));
    QTRY_COMPARE(pill.events(), (QStringList{QStringLiteral("shown"), QStringLiteral("hidden")}));

    QVERIFY2(waitForOutput(quenda, m_output, "[QuendaApp] Insertion: Inserted into"), m_output.constData());
    const QString field = editor.get("multi");
    int heard = 0;
    for (const char* word : kRecordedWords)
        heard += field.contains(QString::fromLatin1(word).toUpper()) ? 1 : 0;
    QVERIFY2(heard >= 2, qPrintable(field));
    QCOMPARE(activeWindowName(), QStringLiteral("Quenda fixture")); // the editor kept the focus

    // The dictation is the menu's recent entry; choosing it puts its text on the clipboard.
    const QStringList rows = menu();
    QVERIFY2(rows.value(1).size() <= 51 && field.contains(rows.value(1).chopped(1)),
             qPrintable(rows.join(u'|')));
    QVERIFY(click(rows.value(1)));
    QVERIFY(editor.ok("focus line"));
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+v")}),
             0);
    QTRY_VERIFY(!editor.get("line").isEmpty());
    QVERIFY2(field.contains(editor.get("line").trimmed()), qPrintable(editor.get("line")));

    // `quenda toggle` from another process goes the hotkey's way: on, then off.
    notices.states.clear();
    QCOMPARE(runQuenda({QStringLiteral("toggle")}).status, 0);
    QTRY_COMPARE(notices.states, QStringList{QStringLiteral("listening")});
    QCOMPARE(runQuenda({QStringLiteral("toggle")}).status, 0);
    QTRY_COMPARE(notices.states.last(), QStringLiteral("idle"));

    // A second start hands over to the running one, which shows its settings, and ends.
    const Run second = runQuenda({});
    QCOMPARE(second.status, 0);
    QVERIFY((second.out + second.err).contains(QLatin1String("already running")));
    QTRY_COMPARE(activeWindowName(), QStringLiteral("Quenda Settings"));
    // Closing its last window leaves the tray application running.
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("alt+F4")}),
             0);
    QTRY_VERIFY(activeWindowName() != QStringLiteral("Quenda Settings"));
    QTest::qWait(300);
    QCOMPARE(quenda.state(), QProcess::Running);

    QVERIFY(click(QStringLiteral("Quit Quenda")));
    QVERIFY(quenda.waitForFinished(10000));
    QCOMPARE(quenda.exitStatus(), QProcess::NormalExit);
    QCOMPARE(quenda.exitCode(), 0);
}

void TestTrayDesktop::relaunchAfterTheMigrationTakesOver()
{
    setFlag("hasCompletedOnboarding", true);
    runQuenda(
        {QStringLiteral("config"), QStringLiteral("unset"), QStringLiteral("entitlementsMigration_0_3_17")});
    QProcess old;
    old.setProcessChannelMode(QProcess::MergedChannels);
    m_output.clear();
    old.start(QStringLiteral(QUENDA_BINARY), {});
    QVERIFY2(waitForOutput(old, m_output, "[QuendaApp] Entitlements migration"), m_output.constData());
    QVERIFY(old.waitForFinished(10000));
    QCOMPARE(old.exitCode(), 0);
    // The fresh instance owns the name once the old one has gone, and started normally.
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    QTRY_VERIFY_WITH_TIMEOUT(bus->isServiceRegistered(QStringLiteral("com.quenda.Quenda")).value(), 10000);
    const uint owner = bus->servicePid(QStringLiteral("com.quenda.Quenda")).value();
    QVERIFY(owner != 0 && qint64(owner) != old.processId());
    QTRY_VERIFY_WITH_TIMEOUT(menu().contains(QStringLiteral("Quit Quenda")), 10000);
    QCOMPARE(
        runQuenda({QStringLiteral("config"), QStringLiteral("get"), QStringLiteral("permissionsWereReset")})
            .status,
        1);
    QCOMPARE(runQuenda({QStringLiteral("quit")}).status, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!bus->isServiceRegistered(QStringLiteral("com.quenda.Quenda")).value(), 10000);
}

QTEST_GUILESS_MAIN(TestTrayDesktop)
#include "tst_tray_desktop.moc"
