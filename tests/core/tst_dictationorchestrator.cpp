#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "core/DictationOrchestrator.h"
#include "fakes/FakeCapture.h"
#include "fakes/FakeEnhancement.h"
#include "fakes/FakeInsertion.h"
#include "fakes/FakeServices.h"
#include "fakes/LogCapture.h"
#include "text/SnippetManager.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

const QString kMicRequired = QStringLiteral("Microphone access required. Open Quenda Settings to enable.");
const QString kMicUnavailable = QString::fromUtf8("Mic unavailable \u2014 check audio device");

// One orchestrator over fakes and a virtual clock, with handles on every fake.
struct Rig {
    QTemporaryDir dir;
    VirtualScheduler clock;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    SnippetManager snippets{defaults};
    FakeTrainingLog training;
    QStringList pillJournal;
    LogCapture logs;

    FakeAudioCapture* audio = new FakeAudioCapture;
    FakeSpeechRecognition* recognizer = new FakeSpeechRecognition;
    FakeHotkeyListener* hotkey = new FakeHotkeyListener;
    FakeTextInsertion* inserter = new FakeTextInsertion;
    FakeTextEnhancement* enhancer = new FakeTextEnhancement;
    FakePostPasteCapture* postPaste = new FakePostPasteCapture;
    FakeWorkspace* workspace = new FakeWorkspace;
    FakeKeyTyper* typer = new FakeKeyTyper;
    FakeMicrophone* microphone = new FakeMicrophone;
    FakePermissions* permissions = new FakePermissions;
    int pillsMade = 0;
    std::unique_ptr<DictationOrchestrator> orchestrator;

    explicit Rig(bool configure = true)
    {
        inserter->target = InsertionTarget{QStringLiteral("org.example.editor"), 4242, nullptr};
        workspace->front =
            RunningApplication{QStringLiteral("org.example.editor"), 4242, QStringLiteral("Editor")};
        if (configure)
            build();
    }

    void build()
    {
        DictationCollaborators c;
        c.mainQueue = &clock;
        c.defaults = &defaults;
        c.snippets = &snippets;
        c.trainingLog = &training;
        c.audioManager.reset(audio);
        c.speechRecognizer.reset(recognizer);
        c.hotkeyManager.reset(hotkey);
        c.textInserter.reset(inserter);
        c.textEnhancer.reset(enhancer);
        c.postPasteCapture.reset(postPaste);
        c.workspace.reset(workspace);
        c.keyTyper.reset(typer);
        c.microphone.reset(microphone);
        c.permissions.reset(permissions);
        c.makePill = [this] {
            ++pillsMade;
            return std::make_unique<FakePill>(&pillJournal);
        };
        orchestrator = std::make_unique<DictationOrchestrator>(std::move(c));
        orchestrator->configurePipeline();
    }

    DictationOrchestrator& o() { return *orchestrator; }

    // Press, say the words as one partial, release: the dictation waits for its final transcript.
    void speakAndRelease(const QString& words)
    {
        hotkey->press();
        clock.runUntilIdle();
        recognizer->emitResult(words, false);
        clock.runUntilIdle();
        hotkey->release();
        clock.runUntilIdle();
    }
    // A whole dictation whose final result arrives at once after the release.
    void dictate(const QString& words)
    {
        speakAndRelease(words);
        recognizer->emitResult(words, true);
        clock.runUntilIdle();
    }
};

} // namespace

class TestDictationOrchestrator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void newOrchestratorStartsIdleWithPlatformFlags();
    void configurePipelineWiresOnceAndRestartsTheListenerEveryTime();
    void launchPromptsRunOnceInOrderAtTheirDelays_data();
    void launchPromptsRunOnceInOrderAtTheirDelays();
    void permissionFlagsCountFallbacks();
    void automationCheckReportsItsStatus();

    void startIsRefusedWithoutMicrophoneOrRecognizer();
    void startBeginsListeningAndShowsThePill();
    void pressesWhileBusyAreDroppedAndErrorIsLeftByTheNextPress();
    void failedAudioStartEndsInMicUnavailable();
    void audioFailureOfAnEarlierDictationIsIgnored();
    void audioLevelIsMirroredOnTheMainQueue();

    void stopOnlyActsWhileListening();
    void finalResultAndTimerRaceForTheTranscript();
    void timerOfAFinishedDictationDoesNotCutTheNextShort();
    void blankTranscriptEndsIdleWithNothingRecorded();
    void recognitionErrorsDuringAndAfterTheDictation();

    void plainPathExpandsSnippetsAndInsertsWithoutCleanUp();
    void speculativeCleanUpsAreSpacedHalfASecondApart();
    void cleanUpStreamsPiecesAsKeystrokesAfterReactivating();
    void cleanUpRecordsTheStreamedTextAndLogsTrainingPairs_data();
    void cleanUpRecordsTheStreamedTextAndLogsTrainingPairs();
    void cleanUpWithoutStreamFallsBackToTheInserter();
    void piecesFromANetworkThreadAreTypedBeforeTheEnd();
    void cleanUpWaitsForTheTrainingSync();
    void readBackRunsEightSecondsLaterOnlyWhenIdle();

    void recentListKeepsTheTenNewest();
    void insertionStatusIsPublished();
    void closuresDoNothingOnceTheOrchestratorIsGone();
};

void TestDictationOrchestrator::newOrchestratorStartsIdleWithPlatformFlags()
{
    Rig rig(false);
    rig.permissions->accessibility = true;
    rig.permissions->post = false;
    rig.defaults.setBool(DictationOrchestrator::automationGrantedKey, true);
    rig.build();
    const DictationOrchestrator& o = rig.o();
    QCOMPARE(o.state(), DictationState::idle());
    QCOMPARE(o.currentTranscript(), QString());
    QVERIFY(o.recentDictations().isEmpty());
    QCOMPARE(o.audioLevel(), 0.0f);
    QCOMPARE(o.lastInsertionStatus(), QStringLiteral("No insertion attempted yet."));
    QVERIFY(!o.flaggedDictation());
    QVERIFY(o.accessibilityAccessGranted());
    QVERIFY(o.automationAccessGranted());
    QCOMPARE(rig.pillsMade, 0); // the pill window is made on first use only
}

void TestDictationOrchestrator::configurePipelineWiresOnceAndRestartsTheListenerEveryTime()
{
    Rig rig;
    QCOMPARE(rig.hotkey->calls,
             (QStringList{QStringLiteral("load"), QStringLiteral("stop"), QStringLiteral("start")}));
    rig.o().configurePipeline();
    rig.o().configurePipeline();
    QCOMPARE(rig.hotkey->calls.count(QStringLiteral("load")), 1);
    QCOMPARE(rig.hotkey->calls.count(QStringLiteral("stop")), 3);
    QCOMPARE(rig.hotkey->calls.count(QStringLiteral("start")), 3);

    // Audio goes from the capture thread straight into the recogniser.
    QVERIFY(rig.audio->bufferHandler);
    AudioBuffer buffer{AudioBuffer::SampleFormat::Int16, 16000, 1, QByteArray(2048, '\0')};
    rig.audio->bufferHandler(buffer);
    QCOMPARE(rig.recognizer->appendedFrames, 1024);
}

void TestDictationOrchestrator::launchPromptsRunOnceInOrderAtTheirDelays_data()
{
    QTest::addColumn<bool>("accessibility");
    QTest::addColumn<bool>("promptedBefore");
    QTest::addColumn<QStringList>("at04");
    QTest::addColumn<QStringList>("at10");
    QTest::addColumn<QStringList>("at16");

    const QString ax = QStringLiteral("promptAccessibility");
    const QString listen = QStringLiteral("requestListen");
    const QString probe = QStringLiteral("probeAutomation");
    QTest::newRow("first launch, nothing granted")
        << false << false << QStringList{ax} << QStringList{listen} << QStringList{probe};
    QTest::newRow("accessibility granted")
        << true << false << QStringList{listen} << QStringList{probe} << QStringList{};
    QTest::newRow("later launch after declining")
        << false << true << QStringList{probe} << QStringList{} << QStringList{};
}

void TestDictationOrchestrator::launchPromptsRunOnceInOrderAtTheirDelays()
{
    QFETCH(bool, accessibility);
    QFETCH(bool, promptedBefore);
    QFETCH(QStringList, at04);
    QFETCH(QStringList, at10);
    QFETCH(QStringList, at16);

    Rig rig(false);
    rig.permissions->accessibility = accessibility;
    rig.permissions->post = true;
    rig.hotkey->listenSucceeds = false; // input monitoring really missing
    if (promptedBefore) {
        rig.defaults.setBool(DictationOrchestrator::accessibilityPromptKey, true);
        rig.defaults.setBool(DictationOrchestrator::inputMonitoringPromptKey, true);
    }
    rig.build();
    rig.o().configurePipeline(); // a second call in the same launch schedules nothing more

    rig.clock.advance(0.399);
    QCOMPARE(rig.permissions->calls, QStringList{});
    rig.clock.advance(0.001);
    QCOMPARE(rig.permissions->calls, at04);
    rig.clock.advance(0.6);
    QCOMPARE(rig.permissions->calls, at04 + at10);
    rig.clock.advance(0.6);
    QCOMPARE(rig.permissions->calls, at04 + at10 + at16);
    rig.clock.advance(60);
    QCOMPARE(rig.permissions->calls, at04 + at10 + at16);
    QVERIFY(rig.defaults.boolForKey(DictationOrchestrator::accessibilityPromptKey) || accessibility);
    QVERIFY(rig.defaults.boolForKey(DictationOrchestrator::inputMonitoringPromptKey));
}

void TestDictationOrchestrator::permissionFlagsCountFallbacks()
{
    Rig rig(false);
    rig.permissions->accessibility = true;
    rig.permissions->listen = false;
    rig.permissions->post = false;
    rig.hotkey->listenSucceeds = true; // listening through the fallback
    rig.build();
    QVERIFY(rig.o().eventListeningAccessGranted());
    QVERIFY(rig.o().eventPostingAccessGranted());

    rig.permissions->accessibility = false;
    rig.hotkey->listenSucceeds = false;
    rig.o().configurePipeline();
    QVERIFY(!rig.o().eventListeningAccessGranted());
    QVERIFY(!rig.o().eventPostingAccessGranted());
    QVERIFY(!rig.o().accessibilityAccessGranted());
}

void TestDictationOrchestrator::automationCheckReportsItsStatus()
{
    Rig rig;
    rig.permissions->automationSucceeds = true;
    rig.o().requestAutomationAccess(true);
    rig.clock.runUntilIdle();
    QVERIFY(rig.o().automationAccessGranted());
    QVERIFY(rig.defaults.boolForKey(DictationOrchestrator::automationGrantedKey));
    QCOMPARE(rig.o().lastInsertionStatus(),
             QStringLiteral("Quenda can now use System Events automation for paste fallback."));

    rig.permissions->automationSucceeds = false;
    rig.o().requestAutomationAccess(true);
    rig.clock.runUntilIdle();
    QVERIFY(!rig.o().automationAccessGranted());
    QCOMPARE(rig.o().lastInsertionStatus(),
             QStringLiteral("Quenda still needs Automation access to System Events for paste fallback."));

    const QString before = rig.o().lastInsertionStatus();
    rig.o().requestAutomationAccess(false); // the launch probe changes no status line
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().lastInsertionStatus(), before);
}

void TestDictationOrchestrator::startIsRefusedWithoutMicrophoneOrRecognizer()
{
    {
        Rig rig;
        rig.microphone->authorized = false;
        rig.hotkey->press();
        QCOMPARE(rig.o().state(), DictationState::error(kMicRequired));
        QVERIFY(rig.recognizer->calls.isEmpty());
        QVERIFY(rig.audio->calls.isEmpty());
        QVERIFY(rig.pillJournal.isEmpty());
    }
    {
        Rig rig;
        const QString unavailable = QStringLiteral("Speech recognition is not available on this device.");
        rig.recognizer->startFailure = unavailable;
        rig.hotkey->press();
        QCOMPARE(rig.o().state(), DictationState::error(unavailable));
        QVERIFY(!rig.o().insertionTarget());
        QVERIFY(rig.audio->calls.isEmpty());
        QVERIFY(rig.pillJournal.isEmpty());
    }
}

void TestDictationOrchestrator::startBeginsListeningAndShowsThePill()
{
    Rig rig;
    rig.hotkey->press();
    QCOMPARE(rig.o().state(), DictationState::listening());
    QCOMPARE(rig.enhancer->cacheClears, 1);
    QCOMPARE(rig.inserter->captures, 1);
    QCOMPARE(rig.o().insertionTarget()->processIdentifier, 4242);
    QCOMPARE(rig.recognizer->calls, QStringList{QStringLiteral("start")});
    QCOMPARE(rig.audio->calls, QStringList{QStringLiteral("start")});
    QCOMPARE(rig.pillJournal, QStringList{QStringLiteral("show listening")});

    rig.recognizer->emitResult(QStringLiteral("hello"), false);
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().currentTranscript(), QStringLiteral("hello"));
    QCOMPARE(rig.pillJournal.last(), QStringLiteral("refresh listening"));
}

void TestDictationOrchestrator::pressesWhileBusyAreDroppedAndErrorIsLeftByTheNextPress()
{
    Rig rig;
    rig.enhancer->available = true;
    rig.speakAndRelease(QStringLiteral("first words"));
    rig.hotkey->press(); // while processing
    QCOMPARE(rig.o().state(), DictationState::processing());
    rig.recognizer->emitResult(QStringLiteral("first words"), true);
    rig.clock.advance(0.1);
    rig.hotkey->press(); // while the clean-up runs
    QCOMPARE(rig.recognizer->calls.count(QStringLiteral("start")), 1);
    rig.enhancer->answer({QStringLiteral("First words.")}, {QStringLiteral("First words."), true, {}});
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().state(), DictationState::idle());
    QCOMPARE(rig.o().recentDictations().first().text, QStringLiteral("First words."));

    // An error is left by pressing again: the next dictation starts normally.
    rig.recognizer->startFailure = QStringLiteral("boom");
    rig.hotkey->press();
    QVERIFY(rig.o().state().isError());
    rig.recognizer->startFailure.reset();
    rig.hotkey->press();
    QCOMPARE(rig.o().state(), DictationState::listening());
}

void TestDictationOrchestrator::failedAudioStartEndsInMicUnavailable()
{
    Rig rig;
    rig.audio->startError = QStringLiteral("No audio input device available");
    rig.hotkey->press();
    QCOMPARE(rig.o().state(), DictationState::listening()); // the failure arrives through the main queue
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().state(), DictationState::error(kMicUnavailable));
    QCOMPARE(rig.logs.linesWith(QStringLiteral("[Quenda] Audio capture failed")),
             QStringList{QStringLiteral("[Quenda] Audio capture failed: No audio input device available")});
    QCOMPARE(rig.pillJournal.last(), QStringLiteral("fade 0.3"));
    QVERIFY(rig.recognizer->calls.contains(QStringLiteral("stop")));
    QVERIFY(!rig.o().insertionTarget());

    // The recogniser's teardown error that follows does not replace the message.
    rig.recognizer->emitError(QStringLiteral("cancelled"));
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().state(), DictationState::error(kMicUnavailable));
}

void TestDictationOrchestrator::audioFailureOfAnEarlierDictationIsIgnored()
{
    Rig rig;
    rig.audio->completeStartAtOnce = false;
    rig.hotkey->press();
    auto lateFailure = rig.audio->pendingStart;
    rig.audio->pendingStart = {};
    rig.hotkey->release();
    rig.clock.advance(1); // blank transcript: back to idle
    QCOMPARE(rig.o().state(), DictationState::idle());
    rig.hotkey->press();
    QCOMPARE(rig.o().state(), DictationState::listening());
    lateFailure(QStringLiteral("device vanished"));
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().state(), DictationState::listening());
}

void TestDictationOrchestrator::audioLevelIsMirroredOnTheMainQueue()
{
    Rig rig;
    QSignalSpy spy(&rig.o(), &DictationOrchestrator::audioLevelChanged);
    rig.audio->levelHandler(0.75f);
    QCOMPARE(rig.o().audioLevel(), 0.0f);
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().audioLevel(), 0.75f);
    QCOMPARE(spy.count(), 1);
}

void TestDictationOrchestrator::stopOnlyActsWhileListening()
{
    Rig rig;
    rig.hotkey->release(); // idle
    QCOMPARE(rig.o().state(), DictationState::idle());
    QVERIFY(rig.audio->calls.isEmpty());

    rig.hotkey->press();
    rig.hotkey->release();
    QCOMPARE(rig.o().state(), DictationState::processing());
    QVERIFY(rig.o().isAwaitingTranscriptFinalization());
    QCOMPARE(rig.audio->calls, (QStringList{QStringLiteral("start"), QStringLiteral("stop")}));
    QCOMPARE(rig.recognizer->calls, (QStringList{QStringLiteral("start"), QStringLiteral("stop")}));
    rig.hotkey->release(); // processing: ignored
    QCOMPARE(rig.audio->calls.count(QStringLiteral("stop")), 1);
}

void TestDictationOrchestrator::finalResultAndTimerRaceForTheTranscript()
{
    // A final result while still listening does not finalise.
    {
        Rig rig;
        rig.hotkey->press();
        rig.recognizer->emitResult(QStringLiteral("early final"), true);
        rig.clock.runUntilIdle();
        QCOMPARE(rig.o().state(), DictationState::listening());
        QVERIFY(rig.inserter->inserted.isEmpty());
    }
    // The final result beats the timer; the timer then finds nothing to do.
    {
        Rig rig;
        rig.speakAndRelease(QStringLiteral("partial words"));
        rig.clock.advance(0.3);
        rig.recognizer->emitResult(QStringLiteral("final words"), true);
        rig.clock.advance(1);
        QCOMPARE(rig.inserter->inserted.size(), 1);
        QCOMPARE(rig.inserter->inserted.first().text, QStringLiteral("final words"));
    }
    // The timer beats the final result: the live transcript is taken, the late final changes nothing.
    {
        Rig rig;
        rig.speakAndRelease(QStringLiteral("partial words"));
        rig.clock.advance(0.599);
        QVERIFY(rig.inserter->inserted.isEmpty());
        rig.clock.advance(0.001);
        QCOMPARE(rig.inserter->inserted.size(), 1);
        QCOMPARE(rig.inserter->inserted.first().text, QStringLiteral("partial words"));
        rig.recognizer->emitResult(QStringLiteral("final words"), true);
        rig.clock.runUntilIdle();
        QCOMPARE(rig.inserter->inserted.size(), 1);
        QCOMPARE(rig.o().recentDictations().size(), 1);
        QCOMPARE(rig.o().currentTranscript(), QString());
    }
}

void TestDictationOrchestrator::timerOfAFinishedDictationDoesNotCutTheNextShort()
{
    Rig rig;
    rig.dictate(QStringLiteral("one")); // finished at once by its final result
    rig.clock.advance(0.2);
    rig.speakAndRelease(QStringLiteral("two so far")); // released at 0.2 s: its own timer is due at 0.8 s
    rig.clock.advance(0.5);                            // past the first dictation's 0.6 s timer
    QCOMPARE(rig.inserter->inserted.size(), 1);
    rig.recognizer->emitResult(QStringLiteral("two complete"), true);
    rig.clock.runUntilIdle();
    QCOMPARE(rig.inserter->inserted.last().text, QStringLiteral("two complete"));
}

void TestDictationOrchestrator::blankTranscriptEndsIdleWithNothingRecorded()
{
    Rig rig;
    rig.enhancer->available = true;
    rig.speakAndRelease(QStringLiteral(" \n  "));
    rig.clock.advance(0.6);
    QCOMPARE(rig.o().state(), DictationState::idle());
    QVERIFY(rig.inserter->inserted.isEmpty());
    QVERIFY(rig.enhancer->requests.isEmpty());
    QVERIFY(rig.o().recentDictations().isEmpty());
    QVERIFY(!rig.o().insertionTarget());
    QCOMPARE(rig.pillJournal.last(), QStringLiteral("fade 0.3"));
}

void TestDictationOrchestrator::recognitionErrorsDuringAndAfterTheDictation()
{
    {
        Rig rig;
        rig.hotkey->press();
        rig.recognizer->emitError(QStringLiteral("Recognition failed"));
        rig.clock.runUntilIdle();
        QCOMPARE(rig.o().state(), DictationState::error(QStringLiteral("Recognition failed")));
        QVERIFY(!rig.o().insertionTarget());
        QCOMPARE(rig.pillJournal.last(), QStringLiteral("fade 0.3"));
    }
    {
        Rig rig; // after the stop, with words: they are the transcript
        rig.speakAndRelease(QStringLiteral("kept words"));
        rig.recognizer->emitError(QStringLiteral("Recognition failed"));
        rig.clock.runUntilIdle();
        QCOMPARE(rig.o().state(), DictationState::idle());
        QCOMPARE(rig.inserter->inserted.first().text, QStringLiteral("kept words"));
    }
    {
        Rig rig; // after the stop, with nothing heard
        rig.hotkey->press();
        rig.hotkey->release();
        rig.recognizer->emitError(QStringLiteral("No speech detected"));
        rig.clock.runUntilIdle();
        QCOMPARE(rig.o().state(), DictationState::error(QStringLiteral("No speech detected")));
        rig.clock.advance(1); // the finalisation timer finds nothing to do
        QCOMPARE(rig.o().state(), DictationState::error(QStringLiteral("No speech detected")));
    }
}

void TestDictationOrchestrator::plainPathExpandsSnippetsAndInsertsWithoutCleanUp()
{
    Rig rig;
    rig.snippets.addSnippet(QStringLiteral("my address"), QStringLiteral("1 Main Street"));
    rig.dictate(QStringLiteral("Send it to My Address please."));
    QCOMPARE(rig.inserter->inserted.size(), 1);
    QCOMPARE(rig.inserter->inserted.first().text, QStringLiteral("Send it to 1 Main Street please."));
    QCOMPARE(rig.inserter->inserted.first().target->processIdentifier, 4242);
    const DictationResult recorded = rig.o().recentDictations().first();
    QCOMPARE(recorded.text, QStringLiteral("Send it to 1 Main Street please."));
    QVERIFY(recorded.isFinal);
    QVERIFY(!recorded.rawTranscript);
    QCOMPARE(recorded.timestamp, rig.clock.now());
    QCOMPARE(rig.o().state(), DictationState::idle());
    QCOMPARE(rig.o().currentTranscript(), QString());
    QVERIFY(!rig.o().insertionTarget());
    QVERIFY(rig.typer->chunks.isEmpty());
    rig.clock.advance(30);
    QVERIFY(rig.postPaste->captures.isEmpty());
    QVERIFY(rig.training.entries.isEmpty());
    QVERIFY(rig.training.syncs.isEmpty());
}

void TestDictationOrchestrator::speculativeCleanUpsAreSpacedHalfASecondApart()
{
    Rig rig;
    rig.enhancer->available = true;
    rig.hotkey->press();
    auto partial = [&](const QString& text, double after) {
        rig.clock.advance(after);
        rig.recognizer->emitResult(text, false);
        rig.clock.runUntilIdle();
    };
    partial(QStringLiteral("a"), 0);
    partial(QStringLiteral("a b"), 0.4);   // too soon: skipped, not deferred
    partial(QStringLiteral("a b c"), 0.1); // 0.5 s after the first
    partial(QStringLiteral("a b c d"), 0.49);
    QCOMPARE(rig.enhancer->speculative.size(), 2);
    QCOMPARE(rig.enhancer->speculative[0].first, QStringLiteral("a"));
    QCOMPARE(rig.enhancer->speculative[1].first, QStringLiteral("a b c"));
    QCOMPARE(rig.enhancer->speculative[1].second,
             std::optional<QString>(QStringLiteral("org.example.editor")));

    rig.hotkey->release();
    partial(QStringLiteral("after release"), 1); // not listening any more
    QCOMPARE(rig.enhancer->speculative.size(), 2);

    Rig plain; // without a clean-up route nothing is started
    plain.hotkey->press();
    plain.recognizer->emitResult(QStringLiteral("words"), false);
    plain.clock.runUntilIdle();
    QVERIFY(plain.enhancer->speculative.isEmpty());
}

void TestDictationOrchestrator::cleanUpStreamsPiecesAsKeystrokesAfterReactivating()
{
    Rig rig;
    rig.enhancer->available = true;
    rig.snippets.addSnippet(QStringLiteral("sig"), QStringLiteral("Best, Ann"));
    rig.workspace->front = RunningApplication{QStringLiteral("org.example.mail"), 77, QStringLiteral("Mail")};
    rig.speakAndRelease(QStringLiteral("thanks sig"));
    rig.recognizer->emitResult(QStringLiteral("thanks sig"), true);
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().state(), DictationState::processing());
    QCOMPARE(rig.workspace->activations, QList<qint64>{4242});
    QVERIFY(rig.enhancer->requests.isEmpty()); // waiting 100 ms for the target to come forward
    rig.clock.advance(0.099);
    QVERIFY(rig.enhancer->requests.isEmpty());
    rig.clock.advance(0.001);
    QCOMPARE(rig.enhancer->requests.size(), 1);
    QCOMPARE(rig.enhancer->requests.first().text, QStringLiteral("thanks Best, Ann"));
    QCOMPARE(rig.enhancer->requests.first().appBundleID,
             std::optional<QString>(QStringLiteral("org.example.mail")));
    QCOMPARE(rig.logs.linesWith(QStringLiteral("[Quenda] ")).mid(0, 2),
             (QStringList{QStringLiteral("[Quenda] Raw transcript: \"thanks sig\""),
                          QStringLiteral("[Quenda] Snippet expanded: \"thanks Best, Ann\"")}));

    auto request = rig.enhancer->requests.first();
    request.onToken(QStringLiteral("Thanks, "));
    rig.clock.runUntilIdle();
    QCOMPARE(rig.typer->typed, QStringLiteral("Thanks, "));
    QCOMPARE(rig.o().currentTranscript(), QStringLiteral("Thanks, "));
    QCOMPARE(rig.pillJournal.last(), QStringLiteral("refresh processing"));
    request.onToken(QString()); // an empty piece types nothing
    request.onToken(QStringLiteral("Ann 👋🏽"));
    rig.clock.runUntilIdle();
    QCOMPARE(rig.typer->chunks, (QStringList{QStringLiteral("Thanks, "), QStringLiteral("Ann 👋🏽")}));
    QCOMPARE(rig.o().currentTranscript(), QStringLiteral("Thanks, Ann 👋🏽"));
    QCOMPARE(rig.o().state(), DictationState::processing());
}

void TestDictationOrchestrator::cleanUpRecordsTheStreamedTextAndLogsTrainingPairs_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("enhanced");
    QTest::addColumn<bool>("wasEnhanced");
    QTest::addColumn<QString>("recorded");
    QTest::addColumn<bool>("logged");

    QTest::newRow("streamed and changed")
        << QStringList{QStringLiteral("Hello, "), QStringLiteral("world.")} << QStringLiteral("Hello, world.")
        << true << QStringLiteral("Hello, world.") << true;
    QTest::newRow("recorded text is the stream, not the reply")
        << QStringList{QStringLiteral("Hello "), QStringLiteral("world")} << QStringLiteral("Hello world!")
        << true << QStringLiteral("Hello world") << true;
    QTest::newRow("unchanged by the model")
        << QStringList{QStringLiteral("hello world")} << QStringLiteral("hello world") << true
        << QStringLiteral("hello world") << false;
    QTest::newRow("model failed, raw text back")
        << QStringList{} << QStringLiteral("hello world") << false << QStringLiteral("hello world") << false;
}

void TestDictationOrchestrator::cleanUpRecordsTheStreamedTextAndLogsTrainingPairs()
{
    QFETCH(QStringList, pieces);
    QFETCH(QString, enhanced);
    QFETCH(bool, wasEnhanced);
    QFETCH(QString, recorded);
    QFETCH(bool, logged);

    Rig rig;
    rig.enhancer->available = true;
    rig.dictate(QStringLiteral("hello world"));
    rig.clock.advance(0.1);
    rig.enhancer->answer(pieces, EnhancementResult{enhanced, wasEnhanced, std::nullopt});
    rig.clock.runUntilIdle();

    QCOMPARE(rig.o().state(), DictationState::idle());
    QCOMPARE(rig.o().currentTranscript(), QString());
    QVERIFY(!rig.o().insertionTarget());
    const DictationResult result = rig.o().recentDictations().first();
    QCOMPARE(result.text, recorded);
    QCOMPARE(result.rawTranscript, std::optional<QString>(QStringLiteral("hello world")));
    QCOMPARE(rig.training.entries.size(), logged ? 1 : 0);
    if (logged) {
        const TrainingEntry entry = rig.training.entries.first();
        QCOMPARE(entry.raw, QStringLiteral("hello world"));
        QCOMPARE(entry.enhanced, enhanced);
        QCOMPARE(entry.app, std::optional<QString>(QStringLiteral("org.example.editor")));
        QCOMPARE(entry.timestamp, QStringLiteral("2026-01-01T09:00:00Z"));
        QVERIFY(!entry.feedback && !entry.correction && !entry.context);
    }
    QCOMPARE(rig.training.syncs, QList<bool>{false}); // every pass syncs, logged or not
    QCOMPARE(rig.logs.linesWith(QStringLiteral("[Quenda] Enhanced text:")).size(), 1);
    QCOMPARE(rig.logs.linesWith(QStringLiteral("[Quenda] Streamed ")),
             QStringList{QStringLiteral("[Quenda] Streamed %1 chars, final %2 chars")
                             .arg(pieces.join(QString()).size())
                             .arg(enhanced.size())});
    QCOMPARE(rig.pillJournal.last(), QStringLiteral("fade 0.3"));
}

void TestDictationOrchestrator::cleanUpWithoutStreamFallsBackToTheInserter()
{
    {
        Rig rig;
        rig.enhancer->available = true;
        rig.dictate(QStringLiteral("fix this"));
        rig.clock.advance(0.1);
        rig.enhancer->answer({}, EnhancementResult{QStringLiteral("Fix this."), true, std::nullopt});
        rig.clock.runUntilIdle();
        QCOMPARE(rig.inserter->inserted.size(), 1);
        QCOMPARE(rig.inserter->inserted.first().text, QStringLiteral("Fix this."));
        QCOMPARE(rig.inserter->inserted.first().target->processIdentifier, 4242);
        QCOMPARE(rig.logs.linesWith(QStringLiteral("[Quenda] Stream produced no tokens")).size(), 1);
        QCOMPARE(rig.o().recentDictations().first().text, QStringLiteral("Fix this."));
    }
    {
        Rig rig; // nothing streamed and nothing came back: nothing inserted, an empty result recorded
        rig.enhancer->available = true;
        rig.dictate(QStringLiteral("fix this"));
        rig.clock.advance(0.1);
        rig.enhancer->answer({}, EnhancementResult{QString(), true, std::nullopt});
        rig.clock.runUntilIdle();
        QVERIFY(rig.inserter->inserted.isEmpty());
        QVERIFY(rig.typer->chunks.isEmpty());
        QCOMPARE(rig.o().recentDictations().first().text, QString());
        QCOMPARE(rig.o().state(), DictationState::idle());
    }
}

void TestDictationOrchestrator::piecesFromANetworkThreadAreTypedBeforeTheEnd()
{
    Rig rig;
    rig.enhancer->available = true;
    rig.inserter->target.reset(); // no target: no re-activation pause
    rig.dictate(QStringLiteral("one two three"));
    QCOMPARE(rig.enhancer->requests.size(), 1);
    QStringList pieces;
    for (int i = 0; i < 200; ++i)
        pieces << QStringLiteral("w%1 ").arg(i);
    rig.enhancer->answer(pieces, EnhancementResult{pieces.join(QString()).trimmed(), true, std::nullopt},
                         true);
    rig.clock.runUntilIdle();
    QCOMPARE(rig.typer->chunks, pieces);
    QCOMPARE(rig.o().recentDictations().first().text, pieces.join(QString()));
    QVERIFY(rig.workspace->activations.isEmpty());
}

void TestDictationOrchestrator::cleanUpWaitsForTheTrainingSync()
{
    Rig rig;
    rig.enhancer->available = true;
    rig.training.holdSync = true;
    rig.dictate(QStringLiteral("hello"));
    rig.clock.advance(0.1);
    rig.enhancer->answer({QStringLiteral("Hello.")}, EnhancementResult{QStringLiteral("Hello."), true, {}});
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().state(), DictationState::processing());
    QVERIFY(rig.o().recentDictations().isEmpty());
    rig.training.finishSync();
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().state(), DictationState::idle());
    QCOMPARE(rig.o().recentDictations().size(), 1);
}

void TestDictationOrchestrator::readBackRunsEightSecondsLaterOnlyWhenIdle()
{
    Rig rig;
    rig.enhancer->available = true;
    rig.dictate(QStringLiteral("hello"));
    rig.clock.advance(0.1);
    rig.enhancer->answer({QStringLiteral("Hello.")}, EnhancementResult{QStringLiteral("Hello."), true, {}});
    rig.clock.runUntilIdle();
    rig.clock.advance(7.999);
    QVERIFY(rig.postPaste->captures.isEmpty());
    rig.clock.advance(0.001);
    QCOMPARE(rig.postPaste->captures.size(), 1);
    const PostPasteRecord record = rig.postPaste->captures.first();
    QCOMPARE(record.insertedText, QStringLiteral("Hello."));
    QCOMPARE(record.rawText, QStringLiteral("hello"));
    QCOMPARE(record.target->processIdentifier, 4242);
    QCOMPARE(record.appBundleID, std::optional<QString>(QStringLiteral("org.example.editor")));

    // A read-back that falls due while the next dictation is listening is dropped for good.
    rig.dictate(QStringLiteral("again"));
    rig.clock.advance(0.1);
    rig.enhancer->answer({QStringLiteral("Again.")}, EnhancementResult{QStringLiteral("Again."), true, {}});
    rig.clock.runUntilIdle();
    rig.clock.advance(7.5);
    rig.hotkey->press();
    rig.clock.advance(10);
    QCOMPARE(rig.postPaste->captures.size(), 1);
}

void TestDictationOrchestrator::recentListKeepsTheTenNewest()
{
    Rig rig;
    for (int i = 1; i <= 11; ++i)
        rig.dictate(QStringLiteral("dictation %1").arg(i));
    const QList<DictationResult>& recent = rig.o().recentDictations();
    QCOMPARE(recent.size(), DictationOrchestrator::maxRecentDictations);
    QCOMPARE(recent.first().text, QStringLiteral("dictation 11"));
    QCOMPARE(recent.last().text, QStringLiteral("dictation 2"));
}

void TestDictationOrchestrator::insertionStatusIsPublished()
{
    Rig rig;
    QSignalSpy spy(&rig.o(), &DictationOrchestrator::lastInsertionStatusChanged);
    rig.inserter->onStatus(QStringLiteral("Inserted into org.example.editor via Accessibility API."));
    QCOMPARE(rig.o().lastInsertionStatus(),
             QStringLiteral("Inserted into org.example.editor via Accessibility API."));
    QCOMPARE(spy.count(), 1);
}

void TestDictationOrchestrator::closuresDoNothingOnceTheOrchestratorIsGone()
{
    Rig rig;
    rig.enhancer->available = true;
    rig.dictate(QStringLiteral("hello"));
    rig.clock.advance(0.1);
    auto request = rig.enhancer->requests.takeFirst();
    auto onStart = rig.hotkey->onStart;
    auto onResult = rig.recognizer->onResult;
    rig.orchestrator.reset();
    request.onToken(QStringLiteral("Hello"));
    request.done(EnhancementResult{QStringLiteral("Hello"), true, {}});
    onStart();
    onResult(DictationResult{QStringLiteral("late"), true, {}, {}});
    rig.clock.advance(30);
    QVERIFY(rig.training.entries.isEmpty());
}

QTEST_GUILESS_MAIN(TestDictationOrchestrator)
#include "tst_dictationorchestrator.moc"
