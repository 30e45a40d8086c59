#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "capture/HotkeyManager.h"
#include "fakes/LogCapture.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11HotkeySource.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QRasterWindow>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

using namespace quenda;

namespace {

// evdev keycodes of the keys pressed here.
enum : int { rightCtrl = 105, leftAlt = 64, leftShift = 50, leftCtrl = 37 };
enum : int { space = 65, f5 = 71, keyD = 40, keyC = 54 };

// The window in front: it records every key it is given.
class FixtureWindow : public QRasterWindow {
public:
    QStringList keys;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (!event->text().isEmpty() || event->key() == Qt::Key_F5)
            keys << QKeySequence(event->keyCombination()).toString();
    }
};

// Presses keys through XTEST, as the user's keyboard would.
class Keyboard {
public:
    void down(int keycode) { send(keycode, {True}); }
    void up(int keycode) { send(keycode, {False}); }
    // Press and release reach the server together, so no stall of this process can make the key repeat.
    void tap(int keycode) { send(keycode, {True, False}); }

private:
    void send(int keycode, std::initializer_list<Bool> presses)
    {
        for (Bool press : presses)
            XTestFakeKeyEvent(m_x.display(), unsigned(keycode), press, CurrentTime);
        XSync(m_x.display(), False);
        QTest::qWait(5);
    }
    X11Connection m_x;
};

} // namespace

class TestX11Hotkey : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    QtScheduler m_queue;
    std::unique_ptr<X11HotkeySource> m_source;
    std::unique_ptr<HotkeyManager> m_manager;
    QStringList m_callbacks;
    Keyboard m_keyboard;
    FixtureWindow m_window;

    // Waits until the listener has seen everything sent so far (a marker key round trip would disturb the
    // state machine, so settle on the callbacks instead).
    void expect(const QStringList& callbacks)
    {
        QTRY_COMPARE(m_callbacks, callbacks);
        QTest::qWait(100); // and nothing more arrives
        QCOMPARE(m_callbacks, callbacks);
        m_callbacks.clear();
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("d.conf")));
        m_source = std::make_unique<X11HotkeySource>();
        QVERIFY2(m_source->isConnected(), "no X display");
        m_manager = std::make_unique<HotkeyManager>(*m_source, m_queue, *m_defaults);
        m_manager->setOnRecordingStart([this] { m_callbacks << QStringLiteral("start"); });
        m_manager->setOnRecordingStop([this] { m_callbacks << QStringLiteral("stop"); });
        m_manager->setOnRecordingCancel([this] { m_callbacks << QStringLiteral("cancel"); });

        m_window.resize(200, 100);
        m_window.show();
        m_window.requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(&m_window, 20000));
    }

    void init()
    {
        // The keys the hotkey lets through must reach this window: it is put back in front should the
        // window manager have changed hands meanwhile.
        if (!m_window.isActive()) {
            m_window.requestActivate();
            QVERIFY(QTest::qWaitForWindowActive(&m_window, 20000));
        }
        m_manager->stopListening();
        m_manager->setMode(HotkeyMode::holdToTalk);
        m_callbacks.clear();
        m_window.keys.clear();
    }

    void chordWithRightCtrlCancelsAndReachesTheWindow()
    {
        m_manager->resetToDefault();
        // Observed, never grabbed: Right Ctrl is also the Control key of the user's shortcuts.
        QVERIFY(m_manager->isListening() && !m_manager->isUsingActiveGrab());
        m_keyboard.down(rightCtrl);
        m_keyboard.tap(keyC);
        m_keyboard.up(rightCtrl);
        // The press started a dictation, the chord dropped it silently, the release ends nothing more.
        expect({QStringLiteral("start"), QStringLiteral("cancel")});
        QTRY_COMPARE(m_window.keys, QStringList{QStringLiteral("Ctrl+C")});
        m_keyboard.tap(rightCtrl); // the next press starts afresh
        expect({QStringLiteral("start"), QStringLiteral("stop")});
    }

    void keyRepeatOnTheGrab()
    {
        m_manager->setHotkey(96, 0);
        m_manager->setMode(HotkeyMode::toggle);
        m_keyboard.down(f5);
        QTest::qWait(1200); // held past the repeat delay: the server repeats the press
        m_keyboard.up(f5);
        // On the active path every repeated press flips the toggle again.
        QTRY_VERIFY(m_callbacks.size() >= 3);
        QTest::qWait(100);
        for (int i = 0; i < m_callbacks.size(); ++i)
            QCOMPARE(m_callbacks.at(i), i % 2 ? QStringLiteral("stop") : QStringLiteral("start"));
    }

    void optionKeyCombination()
    {
        m_manager->setHotkey(2, ModifierFlag::Option);
        QVERIFY(m_manager->isUsingActiveGrab());
        QCOMPARE(m_manager->displayString(), QStringLiteral("Alt+D"));
        m_keyboard.down(leftAlt);
        m_keyboard.down(leftShift); // extra modifiers do not matter
        m_keyboard.tap(keyD);
        m_keyboard.up(leftShift);
        m_keyboard.up(leftAlt);
        expect({QStringLiteral("start"), QStringLiteral("stop")});
        m_keyboard.tap(keyD); // without Option it is just a letter for the front window
        QTRY_COMPARE(m_window.keys, QStringList{QStringLiteral("D")});
        QVERIFY(m_callbacks.isEmpty());
    }

    void anotherClientOwnsTheCombination()
    {
        // Another client holds Ctrl+Alt+Space, as a window manager holds its own shortcuts. (The window
        // manager's real grabs are let go and taken again on every keymap change other tests make, so the
        // test holds its own.)
        X11Connection occupant;
        const unsigned int ctrlAlt = ControlMask | Mod1Mask;
        {
            X11Connection::ErrorTrap trap(occupant.display());
            XGrabKey(occupant.display(), space, ctrlAlt, occupant.root(), False, GrabModeAsync,
                     GrabModeAsync);
            QVERIFY(!trap.failed());
        }
        m_manager->setHotkey(49, ModifierFlag::Control | ModifierFlag::Option);
        QVERIFY(m_manager->isListening());
        QVERIFY(!m_manager->isUsingActiveGrab());
        QVERIFY(m_manager->listenerErrorMessage().value_or(QString()).startsWith(
            QStringLiteral("Ctrl+Alt+Space is already taken")));

        // Observed instead: presses still start and stop; the repeats of a held key are ignored.
        m_keyboard.down(leftCtrl);
        m_keyboard.down(leftAlt);
        m_keyboard.down(space);
        QTest::qWait(1200);
        m_keyboard.up(space);
        m_keyboard.up(leftAlt);
        m_keyboard.up(leftCtrl);
        expect({QStringLiteral("start"), QStringLiteral("stop")});
    }

    void xErrorsAreTrappedPerRequestAndReportedOtherwise()
    {
        quenda::fakes::LogCapture logs;
        X11Connection x;
        QVERIFY(x.isOpen());
        const unsigned long gone = 0x3fffff1; // no client owns this window
        // A request that may fail (the window of another client went away) is trapped: no answer, no alarm.
        QVERIFY(!x.cardinals(gone, "_NET_WM_PID", "CARDINAL"));
        QVERIFY(!x.bytes(gone, "WM_CLASS"));
        XSync(x.display(), False);
        QVERIFY(logs.linesWith(QStringLiteral("[X11]")).isEmpty());
        // One nobody expected to fail is reported, and the process goes on.
        XMapWindow(x.display(), gone);
        XSync(x.display(), False);
        const QStringList reported = logs.linesWith(QStringLiteral("[X11] Unexpected X error: "));
        QCOMPARE(reported.size(), 1);
        QVERIFY2(reported.first().contains(QStringLiteral("resource 0x3fffff1")),
                 qPrintable(reported.first()));
    }

    // Last: it changes the session's layout, and the window manager re-grabs its keys after that.
    void keyNamesFollowTheLayout()
    {
        QCOMPARE(m_manager->keyName(0), QStringLiteral("A"));
        QCOMPARE(m_manager->keyName(6), QStringLiteral("Z"));
        // On a German layout the key at the place of Z types Y.
        QCOMPARE(QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("de")}), 0);
        QTRY_COMPARE(m_manager->keyName(6), QStringLiteral("Y"));
        QCOMPARE(m_manager->keyName(0), QStringLiteral("A"));
        // Layouts without Latin letters name their keys with their own letters.
        QCOMPARE(QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("ru")}), 0);
        QTRY_COMPARE(m_manager->keyName(0), QString::fromUtf8("Ф"));
        QCOMPARE(QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("us")}), 0);
        QTRY_COMPARE(m_manager->keyName(6), QStringLiteral("Z"));
    }
};

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    TestX11Hotkey test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11hotkey.moc"
