#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "capture/HotkeyManager.h"
#include "fakes/FakeHotkeySource.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quenda;

namespace {

// "D49+O" key-down of 49 with Option, "R96" a repeated key-down, "U49" key-up, "F63+N" flags-changed;
// flag letters: S Shift, C Control, O Option, M Command, N Fn.
CanonicalKeyEvent parseEvent(const QString& text)
{
    CanonicalKeyEvent event;
    const QStringList parts = text.split(QLatin1Char('+'));
    const QChar kind = parts.first().at(0);
    event.type = kind == QLatin1Char('U')   ? CanonicalKeyEvent::Type::KeyUp
                 : kind == QLatin1Char('F') ? CanonicalKeyEvent::Type::FlagsChanged
                                            : CanonicalKeyEvent::Type::KeyDown;
    event.isRepeat = kind == QLatin1Char('R');
    event.keyCode = static_cast<quint16>(parts.first().mid(1).toUInt());
    const quint64 bits[] = {ModifierFlag::Shift, ModifierFlag::Control, ModifierFlag::Option,
                            ModifierFlag::Command, ModifierFlag::Function};
    for (const QString& flag : parts.mid(1))
        event.flags |= bits[QStringLiteral("SCOMN").indexOf(flag)];
    return event;
}

} // namespace

class TestHotkeyManager : public QObject {
    Q_OBJECT

    struct Rig {
        QTemporaryDir dir;
        UserDefaults defaults{dir.filePath(QStringLiteral("defaults.conf"))};
        VirtualScheduler queue;
        fakes::FakeHotkeySource source;
        HotkeyManager manager{source, queue, defaults};
        QStringList callbacks;

        Rig()
        {
            manager.setOnRecordingStart([this] { callbacks << QStringLiteral("start"); });
            manager.setOnRecordingStop([this] { callbacks << QStringLiteral("stop"); });
            manager.setOnRecordingCancel([this] { callbacks << QStringLiteral("cancel"); });
        }
        QString press(const QStringList& events)
        {
            QStringList swallowed;
            for (const QString& event : events)
                swallowed << QString::number(source.send(parseEvent(event)) ? 1 : 0);
            queue.runUntilIdle();
            return swallowed.join(QLatin1Char(','));
        }
    };

private Q_SLOTS:
    void hotkeyEvents_data()
    {
        QTest::addColumn<bool>("toggle");
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<qulonglong>("modifiers");
        QTest::addColumn<bool>("grab");
        QTest::addColumn<QByteArray>("events");
        QTest::addColumn<QByteArray>("swallowed");
        QTest::addColumn<QByteArray>("callbacks");

        const qulonglong none = 0;
        const qulonglong option = ModifierFlag::Option;
        auto row = [](const char* name, bool toggle, int keyCode, qulonglong modifiers, bool grab,
                      const char* events, const char* swallowed, const char* callbacks) {
            QTest::newRow(name) << toggle << keyCode << modifiers << grab << QByteArray(events)
                                << QByteArray(swallowed) << QByteArray(callbacks);
        };
        row("Fn hold", false, 63, none, true, "F63+N F63", "1,1", "start stop");
        row("Shift while Fn held passes", false, 63, none, true, "F63+N F56+N+S F56+N F63", "1,0,0,1",
            "start stop");
        row("Fn toggle, releases do nothing", true, 63, none, true, "F63+N F63 F63+N F63", "1,1,1,1",
            "start stop");
        row("Fn toggle observed", true, 63, none, false, "F63+N F63 F63+N F63 F63+N", "0,0,0,0,0",
            "start stop start");
        // Another key while the Fn role is held: a shortcut, not a dictation.
        row("Fn toggle chord: cancelled, the next press starts", true, 63, none, false,
            "F63+N D8+N F63 F63+N F63", "0,0,0,0,0", "start cancel start");
        row("Fn toggle stop, then a chord: nothing left to cancel", true, 63, none, false,
            "F63+N F63 F63+N D8+N F63", "0,0,0,0,0", "start stop");
        row("Option-Space, plain Space passes", false, 49, option, true,
            "D49 U49 D49+O U49+O D49+O+S U49+O+S", "0,0,1,1,1,1", "start stop start stop");
        row("Option released before Space: no stop", false, 49, option, true, "D49+O F58 U49", "1,0,0",
            "start");
        row("hold with repeats, grabbed: every key-down starts", false, 96, none, true, "D96 R96 R96 U96",
            "1,1,1,1", "start start start stop");
        row("toggle with repeats, observed: repeats ignored", true, 96, none, false,
            "D96 R96 R96 U96 D96 U96", "0,0,0,0,0,0", "start stop");
        row("other keys pass", false, 96, none, true, "D97 U97 F56+S", "0,0,0", "");
    }

    void hotkeyEvents()
    {
        QFETCH(bool, toggle);
        QFETCH(int, keyCode);
        QFETCH(qulonglong, modifiers);
        QFETCH(bool, grab);
        QFETCH(QByteArray, events);
        QFETCH(QByteArray, swallowed);
        QFETCH(QByteArray, callbacks);

        Rig rig;
        rig.source.grabResult =
            grab ? HotkeyEventSource::GrabResult::Installed : HotkeyEventSource::GrabResult::Unavailable;
        rig.manager.setHotkey(static_cast<quint16>(keyCode), modifiers);
        rig.manager.setMode(toggle ? HotkeyMode::toggle : HotkeyMode::holdToTalk);
        QVERIFY(rig.manager.isListening());
        QCOMPARE(rig.manager.isUsingActiveGrab(), grab);
        QCOMPARE(rig.press(QString::fromLatin1(events).split(QLatin1Char(' '))),
                 QString::fromLatin1(swallowed));
        QCOMPARE(rig.callbacks.join(QLatin1Char(' ')), QString::fromLatin1(callbacks));
    }

    void callbacksRunLaterOnTheMainQueue()
    {
        Rig rig;
        rig.manager.startListening();
        rig.manager.setOnRecordingStart({});
        rig.source.send(parseEvent(QStringLiteral("F63+N")));
        // Installed after the event: the queued call looks the callback up when it runs.
        rig.manager.setOnRecordingStart([&] { rig.callbacks << QStringLiteral("late start"); });
        QVERIFY(rig.callbacks.isEmpty());
        rig.queue.runUntilIdle();
        QCOMPARE(rig.callbacks, QStringList{QStringLiteral("late start")});
    }

    void stopListeningClearsToggleAndFnState()
    {
        Rig rig;
        rig.manager.setHotkey(96, 0);
        rig.manager.setMode(HotkeyMode::toggle);
        rig.press({QStringLiteral("D96"), QStringLiteral("U96")});
        rig.manager.stopListening();
        QVERIFY(!rig.manager.isListening());
        rig.manager.startListening();
        rig.press({QStringLiteral("D96")});
        QCOMPARE(rig.callbacks, (QStringList{QStringLiteral("start"), QStringLiteral("start")}));

        // A mode change keeps the toggled state: the next press stops.
        rig.manager.setMode(HotkeyMode::holdToTalk);
        rig.manager.setMode(HotkeyMode::toggle);
        rig.press({QStringLiteral("U96"), QStringLiteral("D96")});
        QCOMPARE(rig.callbacks.last(), QStringLiteral("stop"));

        // Fn held across a restart: its release is a change no longer, the next press starts again.
        rig.manager.resetToDefault();
        rig.manager.setMode(HotkeyMode::holdToTalk);
        rig.callbacks.clear();
        rig.press({QStringLiteral("F63+N")});
        rig.manager.stopListening();
        rig.manager.startListening();
        QCOMPARE(rig.press({QStringLiteral("F63"), QStringLiteral("F63+N")}), QStringLiteral("0,1"));
        QCOMPARE(rig.callbacks, (QStringList{QStringLiteral("start"), QStringLiteral("start")}));
    }

    void grabConflictFallsBackToObserving()
    {
        Rig rig;
        rig.source.grabResult = HotkeyEventSource::GrabResult::Conflict;
        rig.manager.setHotkey(49, ModifierFlag::Option);
        QCOMPARE(rig.source.calls.mid(rig.source.calls.size() - 2),
                 (QStringList{QStringLiteral("grab 49 80000"), QStringLiteral("observe")}));
        QVERIFY(rig.manager.isListening());
        QVERIFY(!rig.manager.isUsingActiveGrab());
        QVERIFY(rig.manager.listenerErrorMessage().value_or(QString()).startsWith(
            QStringLiteral("Alt+Space is already taken")));
        rig.press({QStringLiteral("D49+O"), QStringLiteral("U49+O")});
        QCOMPARE(rig.callbacks, (QStringList{QStringLiteral("start"), QStringLiteral("stop")}));

        // A restart while the observer runs keeps it and keeps the explanation away.
        rig.manager.startListening();
        QVERIFY(!rig.manager.listenerErrorMessage().has_value());

        // Once the combination is free again, a new hotkey gets the grab and the message goes.
        rig.source.grabResult = HotkeyEventSource::GrabResult::Installed;
        rig.manager.setHotkey(96, 0);
        QVERIFY(rig.manager.isUsingActiveGrab());
        QVERIFY(!rig.manager.listenerErrorMessage().has_value());
    }

    void nothingToListenWith()
    {
        Rig rig;
        rig.source.grabResult = HotkeyEventSource::GrabResult::Unavailable;
        rig.source.canObserve = false;
        rig.manager.startListening();
        QVERIFY(!rig.manager.isListening());
        QCOMPARE(rig.manager.listenerErrorMessage().value_or(QString()),
                 QStringLiteral("Global hotkey couldn't start. Enable Quenda in Accessibility and Input "
                                "Monitoring, then retry."));
        rig.source.canObserve = true;
        rig.manager.stopListening();
        rig.manager.startListening();
        QVERIFY(rig.manager.isListening());
        QVERIFY(!rig.manager.listenerErrorMessage().has_value());
    }

    void savedHotkey_data()
    {
        QTest::addColumn<QVariant>("storedCode");
        QTest::addColumn<QVariant>("storedModifiers");
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<qulonglong>("modifiers");

        const QVariant absent;
        QTest::newRow("nothing stored") << absent << absent << 63 << 0ull;
        QTest::newRow("modifiers without key code ignored") << absent << QVariant(0x80000) << 63 << 0ull;
        QTest::newRow("Option-D") << QVariant(2) << QVariant(0x80000) << 2 << 0x80000ull;
        QTest::newRow("key code too large") << QVariant(70000) << QVariant(0) << 63 << 0ull;
        QTest::newRow("key code not a number") << QVariant(QStringLiteral("space")) << absent << 63 << 0ull;
    }

    void savedHotkey()
    {
        QFETCH(QVariant, storedCode);
        QFETCH(QVariant, storedModifiers);
        QFETCH(int, keyCode);
        QFETCH(qulonglong, modifiers);

        Rig rig;
        // Start from another hotkey so a fallback to the default is visible.
        if (storedCode.isValid()) {
            rig.manager.setHotkey(0, ModifierFlag::Shift);
            rig.defaults.remove(HotkeyManager::modifiersKey);
        }
        QSettings raw(rig.defaults.filePath(), QSettings::IniFormat);
        if (storedCode.isValid())
            raw.setValue(HotkeyManager::keyCodeKey, storedCode);
        if (storedModifiers.isValid())
            raw.setValue(HotkeyManager::modifiersKey, storedModifiers);
        raw.sync();
        UserDefaults reread(rig.defaults.filePath());
        HotkeyManager manager(rig.source, rig.queue, reread);
        manager.loadSavedHotkey();
        QCOMPARE(int(manager.keyCode()), keyCode);
        QCOMPARE(qulonglong(manager.modifierFlags()), modifiers);
    }
};

QTEST_GUILESS_MAIN(TestHotkeyManager)
#include "tst_hotkeymanager.moc"
