// Typing through XTest into real applications: exact text with more off-layout characters than the spare
// keycodes hold, on a US and a German layout, the number of keyboard-map changes it costs, and the repair
// of what a crashed run left.
#include "FixtureProcess.h"
#include "fakes/FileChecks.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XTestKeyTyper.h"

#include <QFile>
#include <QGuiApplication>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdlib>

using namespace quenda;

namespace {

// 48 letters no US key types, the space, a check mark and an emoji: more than the spare keycodes hold
// one character each.
const QString kManyOffLayout =
    QString::fromUtf8("αβγδεζηθικλμνξοπρστυφχψω бвгджзийклмнопрстуфхцчшщ ✓ 😀 done.");
// Keys of the German layout's own, shifted and on AltGr, and the same characters off the US one.
const QString kShifted = QString::fromUtf8(" héllo wörld – Grüße, Straße 12 € @home {x} ~ÄÖ ẞ!");

// At most this many characters need a spare keycode: every layout here types ASCII with its own keys.
int offLayoutAtMost(const QString& text)
{
    QSet<uint> distinct;
    for (const uint c : text.toUcs4())
        if (c > 0x7f)
            distinct.insert(c);
    return int(distinct.size());
}

// Counts the keyboard-map changes every client of the display is told about.
class KeymapChangeCounter {
public:
    KeymapChangeCounter()
    {
        int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
        XkbQueryExtension(m_x.display(), &opcode, &m_eventBase, &error, &major, &minor);
        XkbSelectEvents(m_x.display(), XkbUseCoreKbd, XkbMapNotifyMask, XkbMapNotifyMask);
        // The server repeats each change for the keyboards attached to the core one: count the core's.
        if (XkbDescPtr xkb = XkbGetMap(m_x.display(), 0, XkbUseCoreKbd)) {
            m_device = xkb->device_spec;
            XkbFreeKeyboard(xkb, 0, True);
        }
        XSync(m_x.display(), False);
    }
    int count()
    {
        XSync(m_x.display(), False);
        while (XPending(m_x.display())) {
            XEvent event;
            XNextEvent(m_x.display(), &event);
            const auto& xkb = reinterpret_cast<XkbAnyEvent&>(event);
            if (event.type == m_eventBase && xkb.xkb_type == XkbMapNotify && int(xkb.device) == m_device)
                ++m_count;
        }
        return m_count;
    }

private:
    X11Connection m_x;
    int m_eventBase = 0;
    int m_device = -1;
    int m_count = 0;
};

bool keysymOnTheMap(KeySym keysym)
{
    X11Connection fresh; // its own copy of the map, read now
    return XKeysymToKeycode(fresh.display(), keysym) != 0;
}

// xterm with a shell that writes every byte it receives to a file.
class Terminal {
public:
    bool start(const QString& file)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral("xterm"),
                        {QStringLiteral("-u8"), QStringLiteral("-e"), QStringLiteral("sh"),
                         QStringLiteral("-c"),
                         QStringLiteral("stty raw -echo; touch '%1.ready'; exec cat > '%1'").arg(file)});
        if (!m_process.waitForStarted(10000) ||
            !QTest::qWaitFor([&] { return QFile::exists(file + QStringLiteral(".ready")); }, 20000))
            return false;
        // Typed keys go to whoever has the focus: wait until the window manager has given it to xterm.
        const auto workspace = X11Workspace::create();
        return workspace && bringForward(*workspace, m_process.processId());
    }
    qint64 pid() const { return m_process.processId(); }
    ~Terminal()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

private:
    QProcess m_process;
};

QString fileText(const QString& path)
{
    return QString::fromUtf8(fakes::contents(path));
}

// Where two texts part, for the failure message: a truncated comparison hides it.
QByteArray difference(const QString& arrived, const QString& expected, qint64 pid)
{
    const auto workspace = X11Workspace::create();
    const auto front = workspace ? workspace->frontmostApplication() : std::nullopt;
    const QList<uint> a = arrived.toUcs4(), e = expected.toUcs4();
    qsizetype at = 0;
    while (at < a.size() && at < e.size() && a.at(at) == e.at(at))
        ++at;
    auto around = [at](const QList<uint>& text) {
        const QList<uint> part = text.mid(std::max<qsizetype>(0, at - 3), 12);
        return QString::fromUcs4(reinterpret_cast<const char32_t*>(part.constData()), part.size());
    };
    return QStringLiteral("%1 of %2 characters arrived; they part at %3: \"%4\" where \"%5\" was typed; in "
                          "front: %6 (the application's process is %7)")
        .arg(a.size())
        .arg(e.size())
        .arg(at)
        .arg(around(a), around(e))
        .arg(front ? QStringLiteral("%1 %2").arg(front->processIdentifier).arg(front->localizedName)
                   : QStringLiteral("nothing"))
        .arg(pid)
        .toUtf8();
}

} // namespace

class TestTypingDesktop : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("us")}); }

    void typedTextArrivesExact_data()
    {
        QTest::addColumn<QString>("application");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("text");
        QTest::newRow("qt us") << "qt"
                               << "us" << kManyOffLayout + kShifted;
        QTest::newRow("qt de") << "qt"
                               << "de" << kManyOffLayout + kShifted;
        QTest::newRow("gtk us") << "gtk"
                                << "us" << kManyOffLayout;
        QTest::newRow("gtk de") << "gtk"
                                << "de" << kManyOffLayout + kShifted.left(21);
        QTest::newRow("xterm us, no pings") << "xterm"
                                            << "us" << kManyOffLayout;
    }
    void typedTextArrivesExact()
    {
        QFETCH(QString, application);
        QFETCH(QString, layout);
        QFETCH(QString, text);
        QCOMPARE(QProcess::execute(QStringLiteral("setxkbmap"), {layout}), 0);
        QTemporaryDir dir;
        const QString received = dir.filePath(QStringLiteral("received"));
        FixtureProcess fixture;
        Terminal terminal;
        if (application == QLatin1String("xterm")) {
            QVERIFY2(terminal.start(received), "xterm did not start");
        } else {
            QVERIFY(application == QLatin1String("qt")
                        ? fixture.start(QStringLiteral(QUENDA_FIXTURE_EDITOR), {})
                        : fixture.start(FixtureProcess::python(), {QStringLiteral(QUENDA_GTK_FIXTURE)}));
            QVERIFY(fixture.ok("activate"));
            QVERIFY(fixture.ok("focus multi"));
        }
        auto pid = [&] { return application == QLatin1String("xterm") ? terminal.pid() : fixture.pid(); };
        auto arrived = [&] {
            return application == QLatin1String("xterm") ? fileText(received) : fixture.get("multi");
        };

        KeymapChangeCounter changes;
        XTestKeyTyper typer;
        QCOMPARE(typer.typeCharacters(text), KeyboardSynthesizer::Outcome::typed);
        QTRY_VERIFY2_WITH_TIMEOUT(arrived() == text, difference(arrived(), text, pid()).constData(), 10000);
        // Once the application has caught up the keycodes are emptied again.
        QTRY_VERIFY_WITH_TIMEOUT(!typer.hasRemappedKeys(), 10000);
        QVERIFY(!keysymOnTheMap(XK_Greek_alpha));
        QVERIFY(typer.spareKeycodeCount() > 0);
        // One change per batch of spare keycodes, and the one that puts them back.
        QVERIFY2(changes.count() <= offLayoutAtMost(text) / typer.spareKeycodeCount() + 1,
                 qPrintable(QStringLiteral("%1 changes").arg(changes.count())));

        // A second typing right away, in two slices, is just as exact.
        QVERIFY(typer.typeText(text.left(30)));
        QVERIFY(typer.typeText(text.mid(30)));
        QTRY_VERIFY2_WITH_TIMEOUT(arrived() == text + text,
                                  difference(arrived(), text + text, pid()).constData(), 10000);
    }

    void remapsOfACrashedRunArePutBackAtTheNextStart()
    {
        QProcess crashing;
        crashing.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--type-and-crash")});
        QVERIFY(crashing.waitForFinished(20000));
        QCOMPARE(crashing.exitCode(), 3);
        QVERIFY(keysymOnTheMap(XK_Greek_alpha)); // left behind

        XTestKeyTyper next;
        QVERIFY(next.canPostEvents());
        QVERIFY(!keysymOnTheMap(XK_Greek_alpha));
        QVERIFY(!keysymOnTheMap(XK_Greek_beta));
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    QGuiApplication app(argc, argv);
    if (app.arguments().contains(QStringLiteral("--type-and-crash"))) {
        XTestKeyTyper typer;
        typer.typeCharacters(QString::fromUtf8("αβ"));
        std::_Exit(3); // no destructor, no restore: as a crash would leave it
    }
    TestTypingDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_typing_desktop.moc"
