// The real insertion adapters (X11 workspace, AT-SPI, XTest, the clipboard, xdotool) and the whole
// insertion chain, against Qt and GTK fixture editors in the private headless session.
#include "DesktopRig.h"
#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "insert/TextInserter.h"
#include "platform/linux/LinuxInsertionServices.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xlib.h>

#include <csignal>

using namespace quenda;

namespace {

// The real desktop services, as Quenda wires them.
struct Desktop {
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    QtScheduler mainQueue;
    std::unique_ptr<LinuxInsertionServices> services;

    explicit Desktop(const QString& helper = QStringLiteral("xdotool"))
        : services(LinuxInsertionServices::create(helper))
    {}

    InsertionPlatform platform() { return services->platform(mainQueue, defaults); }

    bool bringForward(FixtureProcess& fixture)
    {
        fixture.command("activate");
        if (::bringForward(services->workspace(), fixture.pid()))
            return true;
        qWarning("fixture %lld never came to the front (stderr %s)", fixture.pid(),
                 fixture.errors().right(3000).constData());
        return false;
    }
};

// The GTK fixture editor, or the Qt one with these arguments.
bool startFixture(FixtureProcess& fixture, const QString& toolkit, const QStringList& arguments = {})
{
    return toolkit == QLatin1String("gtk")
               ? fixture.start(FixtureProcess::python(), {QStringLiteral(QUENDA_GTK_FIXTURE)})
               : fixture.start(QStringLiteral(QUENDA_FIXTURE_EDITOR), arguments);
}

} // namespace

class TestInsertionDesktop : public QObject {
    Q_OBJECT

    static QStringList readClipboardFormats()
    {
        return FixtureProcess::clipboardFormats(QStringLiteral(QUENDA_FIXTURE_EDITOR));
    }

private Q_SLOTS:
    void accessibilityReplacesTheSelectionOrInsertsAtTheCaret_data()
    {
        QTest::addColumn<QString>("toolkit");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("insertion");
        QTest::addColumn<QString>("after");
        for (const QString& toolkit : {QStringLiteral("qt"), QStringLiteral("gtk")}) {
            for (const QByteArray& field : {QByteArray("line"), QByteArray("multi")}) {
                const QByteArray row = toolkit.toUtf8() + ' ' + field;
                QTest::newRow(row + " selection")
                    << toolkit << field << "hello world" << 6 << 5 << QString::fromUtf8("thére ✓ 😀")
                    << QString::fromUtf8("hello thére ✓ 😀");
                QTest::newRow(row + " caret") << toolkit << field << "ab" << 1 << 0 << "X"
                                              << "aXb";
                QTest::newRow(row + " after emoji") << toolkit << field << QString::fromUtf8("😀 end") << 1
                                                    << 0 << "!" << QString::fromUtf8("😀! end");
            }
        }
        // A field that ignores insertion at the selection: the value is spliced instead.
        QTest::newRow("qt refusing") << "qt" << QByteArray("refusing") << "hello world" << 6 << 5 << "there"
                                     << "hello there";
    }
    void accessibilityReplacesTheSelectionOrInsertsAtTheCaret()
    {
        QFETCH(QString, toolkit);
        QFETCH(QByteArray, field);
        QFETCH(QString, before);
        QFETCH(int, start);
        QFETCH(int, length);
        QFETCH(QString, insertion);
        QFETCH(QString, after);
        // Offsets given to the fixture are in its own units: a Qt field counts the emoji as two.
        if (toolkit == QLatin1String("qt") && before.startsWith(QString::fromUtf8("😀")))
            start += 1;

        Desktop desktop;
        FixtureProcess fixture;
        QVERIFY(startFixture(fixture, toolkit));
        QVERIFY(desktop.bringForward(fixture));
        QVERIFY(fixture.ok("focus " + field));
        QVERIFY(fixture.set(field, before));
        QVERIFY(fixture.select(field, start, length));

        AccessibilityInserter inserter(desktop.platform());
        const auto target = inserter.captureInsertionTarget();
        QVERIFY(target);
        QCOMPARE(target->processIdentifier, fixture.pid());
        QVERIFY2(inserter.insertText(insertion, target),
                 qPrintable(inserter.lastFailureReason().value_or(QString())));
        QCOMPARE(fixture.get(field), after);
        std::optional<QString> readBack;
        inserter.readFocusedValue(target, [&](const std::optional<QString>& value) { readBack = value; });
        QTRY_COMPARE(readBack, std::optional(after));
    }

    void pastesAndPutsTheClipboardBack_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("userClipboard");
        QTest::addColumn<QString>("reason"); // left by the ways tried before the one that worked
        QTest::newRow("menu") << "menu" << true << QString();
        QTest::newRow("helper")
            << "helper" << true
            << "The target app does not expose an accessible menu bar for paste fallback.";
        QTest::newRow("ctrl+v")
            << "ctrl+v" << true
            << "Automation paste fallback failed for quenda_fixture_editor: the automation "
               "helper quenda-missing-helper is not installed.";
        QTest::newRow("menu, empty clipboard") << "menu" << false << QString();
    }
    void pastesAndPutsTheClipboardBack()
    {
        QFETCH(QString, way);
        QFETCH(bool, userClipboard);
        QFETCH(QString, reason);
        Desktop desktop(way == QLatin1String("ctrl+v") ? QStringLiteral("quenda-missing-helper")
                                                       : QStringLiteral("xdotool"));
        QGuiApplication::clipboard()->clear(); // an earlier case's restored content is still the test's
        FixtureProcess owner;
        if (userClipboard)
            QVERIFY(owner.start(QStringLiteral(QUENDA_FIXTURE_EDITOR), {QStringLiteral("--own-clipboard")}));
        const QStringList before = readClipboardFormats();
        QCOMPARE(before.size(), userClipboard ? 3 : 0); // text, HTML and an image

        FixtureProcess fixture;
        QVERIFY(startFixture(fixture, QStringLiteral("qt"),
                             way == QLatin1String("menu") ? QStringList()
                                                          : QStringList{QStringLiteral("--no-menu")}));
        QVERIFY(desktop.bringForward(fixture));
        QVERIFY(fixture.ok("focus line"));
        QVERIFY(fixture.set("line", QStringLiteral("say: ")));
        QVERIFY(fixture.select("line", 5, 0));

        ClipboardInserter inserter(desktop.platform(), {QStringLiteral("edit")},
                                   {QStringLiteral("paste"), QStringLiteral("paste and match style")});
        const QString dictated = QString::fromUtf8("pasted ✓ 😀");
        QVERIFY(inserter.pasteText(dictated, fixture.pid()));
        QTRY_COMPARE_WITH_TIMEOUT(fixture.get("line"), QStringLiteral("say: ") + dictated, 5000);
        QCOMPARE(inserter.lastFailureReason().value_or(QString()), reason);
        QTRY_VERIFY_WITH_TIMEOUT(!inserter.isRestorePending(), 5000);
        QCOMPARE(readClipboardFormats(), before);
    }

    // Nothing editable in front: the real accessibility bus says why, typing takes over and is remembered
    // for that application alone.
    void chainFallsToTypingWhereNothingIsEditable()
    {
        Desktop desktop;
        FixtureProcess qt, plain;
        QVERIFY(startFixture(qt, QStringLiteral("qt")));
        QVERIFY(startFixture(plain, QStringLiteral("qt"), {QStringLiteral("--no-text")}));
        TextInserter inserter(desktop.platform());
        QStringList lines;
        inserter.setOnStatusChange([&](const QString& line) { lines << line; });
        QVERIFY(desktop.bringForward(plain));
        inserter.insertText(QStringLiteral("three"), inserter.captureInsertionTarget());
        QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 2, 10000);
        QVERIFY2(lines[1].endsWith(QLatin1String(" via Simulated Typing.")), qPrintable(lines.join(u'|')));
        QCOMPARE(inserter.accessibilityInserter().lastFailureReason(),
                 std::optional(QStringLiteral("The focused element does not expose a writable text value.")));
        auto keyOf = [&](FixtureProcess& fixture) {
            const auto app = desktop.services->workspace().runningApplication(fixture.pid());
            return app ? app->bundleIdentifier.value_or(QString()) : QString();
        };
        QVERIFY(!keyOf(plain).isEmpty() && keyOf(plain) != keyOf(qt));
        QCOMPARE(inserter.cachedMethod(keyOf(plain)), InsertionMethod::simulatedTyping);
        QVERIFY(!inserter.cachedMethod(keyOf(qt)));
    }

    void activationNoticesFollowTheFrontApplication()
    {
        Desktop desktop;
        FixtureProcess qt, gtk;
        QVERIFY(startFixture(qt, QStringLiteral("qt")));
        QVERIFY(startFixture(gtk, QStringLiteral("gtk")));
        AccessibilityInserter inserter(
            desktop.platform()); // subscribes to the workspace's activation notices
        auto lastExternal = [&] {
            return inserter.lastExternalApplication().value_or(AccessibilityInserter::ExternalApplication{});
        };
        const bool notices = desktop.services->workspace().hasWindowManager();
        for (FixtureProcess* fixture : {&qt, &gtk, &qt}) {
            QVERIFY(bringForward(desktop.services->workspace(), fixture->pid(), 5000));
            if (notices)
                QTRY_COMPARE_WITH_TIMEOUT(lastExternal().processIdentifier, fixture->pid(), 5000);
        }
        QVERIFY(!desktop.services->workspace().activate(999999));
    }

    void interruptStopsALongTypedInsertionAndPutsTheKeymapBack()
    {
        Desktop desktop;
        FixtureProcess fixture;
        // Nothing to write into: the chain falls to typing, and characters off the layout are typed
        // through remapped spare keys.
        QVERIFY(startFixture(fixture, QStringLiteral("qt"), {QStringLiteral("--no-text")}));
        QVERIFY(desktop.bringForward(fixture));
        const QByteArray keymapBefore = keymap();
        QString text;
        while (text.size() < 20000)
            text += QString::fromUtf8("αβγ łę ");
        QProcess quenda;
        quenda.start(QStringLiteral(QUENDA_BINARY), {QStringLiteral("insert"), text});
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += quenda.readAllStandardOutput()).contains("Trying to insert"),
                                 20000);
        QTest::qWait(300);
        QCOMPARE(quenda.state(), QProcess::Running);
        ::kill(pid_t(quenda.processId()), SIGINT);
        // A hang guard, not a measure: the benchmark prints how soon typing stops.
        QVERIFY(quenda.waitForFinished(10000));
        QCOMPARE(quenda.exitCode(), 130);
        QCOMPARE(keymap(), keymapBefore);
    }

private:
    // Every keycode's keysyms, as the server has them now.
    static QByteArray keymap()
    {
        Display* display = XOpenDisplay(nullptr);
        if (!display)
            return {};
        int first = 0, last = 0, perCode = 0;
        XDisplayKeycodes(display, &first, &last);
        KeySym* syms = XGetKeyboardMapping(display, KeyCode(first), last - first + 1, &perCode);
        const QByteArray map(reinterpret_cast<const char*>(syms),
                             qsizetype(sizeof(KeySym)) * (last - first + 1) * perCode);
        XFree(syms);
        XCloseDisplay(display);
        return map;
    }
};

int main(int argc, char** argv)
{
    // The adapters talk to the session's X server; the test's own windows (none) do not matter.
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The test is not a target: keep it off the accessibility bus so only fixtures are found there.
    qunsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    QGuiApplication app(argc, argv);
    TestInsertionDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_insertion_desktop.moc"
