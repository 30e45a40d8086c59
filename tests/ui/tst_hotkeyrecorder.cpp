#include "UiRig.h"
#include "base/Wording.h"
#include "ui/widgets/HotkeyRecorderModel.h"

#include <QSignalSpy>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {
using Type = CanonicalKeyEvent::Type;
enum : quint16 { keyR = 15, keyD = 2, keyF5 = 96, keySpace = 49, keyEscape = 53 };
constexpr quint64 ctrl = ModifierFlag::Control;
constexpr quint64 alt = ModifierFlag::Option;
constexpr quint64 shift = ModifierFlag::Shift;
constexpr quint64 super = ModifierFlag::Command;
} // namespace

class TestHotkeyRecorder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pressedKeys_data();
    void pressedKeys();
    void recordingPausesTheListener();
    void errorShowsForTwoSeconds();
    void resetGoesBackToTheFnRole();
};

void TestHotkeyRecorder::pressedKeys_data()
{
    QTest::addColumn<bool>("keyDown"); // or a change of the modifiers alone
    QTest::addColumn<int>("keyCode");
    QTest::addColumn<quint64>("flags");
    QTest::addColumn<bool>("stillRecording");
    QTest::addColumn<QString>("hotkey");
    QTest::addColumn<QString>("caption");
    const QString unchanged = QStringLiteral("Right Ctrl");
    const QString holdFn = Wording::holdHint(unchanged);
    QTest::newRow("Shift+R") << true << int(keyR) << shift << true << unchanged
                             << Wording::shiftWithLetterError();
    QTest::newRow("Shift+Space") << true << int(keySpace) << shift << false << QStringLiteral("Shift+Space")
                                 << QStringLiteral("Hold Shift+Space to dictate");
    QTest::newRow("Super alone") << false << 0 << super << true << unchanged << holdFn;
    QTest::newRow("Escape with modifiers")
        << true << int(keyEscape) << (ctrl | shift) << false << unchanged << holdFn;
}

void TestHotkeyRecorder::pressedKeys()
{
    QFETCH(bool, keyDown);
    QFETCH(int, keyCode);
    QFETCH(quint64, flags);
    QFETCH(bool, stillRecording);
    QFETCH(QString, hotkey);
    QFETCH(QString, caption);
    UiRig rig;
    rig.keys.layout.insert(keyR, QStringLiteral("r"));
    HotkeyRecorderModel recorder(rig.hotkey, rig.keys, rig.clock);
    recorder.beginRecording();
    recorder.startRecording();
    rig.keys.send(
        CanonicalKeyEvent{keyDown ? Type::KeyDown : Type::FlagsChanged, quint16(keyCode), flags, false});
    rig.clock.runUntilIdle();
    QCOMPARE(recorder.isRecording(), stillRecording);
    QCOMPARE(recorder.hotkeyTitle(), hotkey);
    QCOMPARE(recorder.caption(), caption);
    if (hotkey == QLatin1String("Right Ctrl"))
        QVERIFY(!rig.defaults.contains(HotkeyManager::keyCodeKey));
}

void TestHotkeyRecorder::recordingPausesTheListener()
{
    UiRig rig;
    rig.hotkey.startListening();
    HotkeyRecorderModel recorder(rig.hotkey, rig.keys, rig.clock);
    recorder.beginRecording();
    QVERIFY(rig.hotkey.isListening()); // only once the prompt shows
    recorder.startRecording();
    QVERIFY(!rig.hotkey.isListening());
    rig.keys.calls.clear();
    rig.keys.send(CanonicalKeyEvent{Type::KeyDown, keyD, ctrl | alt, false});
    rig.clock.runUntilIdle();
    // The recorder lets go of the keyboard before the listener grabs the new key.
    QCOMPARE(rig.keys.calls, (QStringList{QStringLiteral("unobserve"), QStringLiteral("grab 2 c0000")}));
    QVERIFY(rig.hotkey.isListening());

    recorder.beginRecording();
    recorder.startRecording();
    recorder.stopRecording(); // Cancel
    QVERIFY(rig.hotkey.isListening());
    QCOMPARE(rig.hotkey.displayString(), QStringLiteral("Ctrl+Alt+D"));
}

void TestHotkeyRecorder::errorShowsForTwoSeconds()
{
    UiRig rig;
    HotkeyRecorderModel recorder(rig.hotkey, rig.keys, rig.clock);
    recorder.beginRecording();
    recorder.startRecording();
    rig.keys.send(CanonicalKeyEvent{Type::KeyDown, keyR, 0, false});
    rig.clock.advance(1.0);
    rig.keys.send(CanonicalKeyEvent{Type::KeyDown, keyR, shift, false});
    rig.clock.advance(0.5);
    QVERIFY(recorder.showError());
    QCOMPARE(recorder.errorMessage(), Wording::shiftWithLetterError());
    rig.clock.advance(0.6); // the first error's timer hides the second one too
    QVERIFY(!recorder.showError());
    QVERIFY(recorder.isRecording());
}

void TestHotkeyRecorder::resetGoesBackToTheFnRole()
{
    UiRig rig;
    HotkeyRecorderModel recorder(rig.hotkey, rig.keys, rig.clock);
    QVERIFY(!recorder.canReset());
    rig.hotkey.setHotkey(keyF5, 0);
    QVERIFY(recorder.canReset());
    QSignalSpy changed(&recorder, &HotkeyRecorderModel::changed);
    recorder.resetHotkey();
    QVERIFY(!changed.isEmpty());
    QVERIFY(!recorder.canReset());
    QVERIFY(!rig.defaults.contains(HotkeyManager::keyCodeKey));
    QVERIFY(!rig.defaults.contains(HotkeyManager::modifiersKey));
    QCOMPARE(recorder.hotkeyTitle(), QStringLiteral("Right Ctrl"));
}

QTEST_GUILESS_MAIN(TestHotkeyRecorder)
#include "tst_hotkeyrecorder.moc"
