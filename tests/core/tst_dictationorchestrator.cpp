#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "core/DictationOrchestrator.h"
#include "fakes/LogCapture.h"
#include "fakes/PipelineFakes.h"
#include "fakes/TableRows.h"
#include "text/SnippetManager.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

const QString kMicRequired = QStringLiteral("Microphone access required. Open Quenda Settings to enable.");
const QString kMicUnavailable = QString::fromUtf8("Mic unavailable \u2014 check audio device");

// One orchestrator over fakes and a virtual clock.
struct Rig : PipelineFakes {
    QTemporaryDir dir;
    VirtualScheduler clock;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    SnippetManager snippets{defaults};
    LogCapture logs;
    std::unique_ptr<DictationOrchestrator> orchestrator;

    enum class Setup { plain, cleanUp, unbuilt };
    explicit Rig(Setup setup = Setup::plain)
    {
        enhancer.available = setup == Setup::cleanUp;
        if (setup != Setup::unbuilt)
            build();
    }

    void build()
    {
        orchestrator = std::make_unique<DictationOrchestrator>(collaborators(clock, defaults, snippets));
        orchestrator->configurePipeline();
    }

    DictationOrchestrator& o() { return *orchestrator; }
    QStringList insertedTexts() const
    {
        QStringList texts;
        for (const auto& call : inserter.inserted)
            texts << call.text;
        return texts;
    }

    // Press, say the words as one partial, release: the dictation waits for its final transcript.
    void speakAndRelease(const QString& words)
    {
        hotkey.press();
        clock.runUntilIdle();
        recognizer.emitResult(words, false);
        clock.runUntilIdle();
        hotkey.release();
        clock.runUntilIdle();
    }
    // A whole dictation whose final result arrives at once after the release.
    void dictate(const QString& words)
    {
        speakAndRelease(words);
        recognizer.emitResult(words, true);
        clock.runUntilIdle();
    }
    // Lets the 100 ms re-activation pause pass, then answers the clean-up.
    void answerCleanUp(const QStringList& pieces, const QString& text, bool changed = true)
    {
        clock.advance(0.1);
        enhancer.answer(pieces, EnhancementResult{text, changed, std::nullopt});
        clock.runUntilIdle();
    }
};

} // namespace

class TestDictationOrchestrator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void launchPromptsRunOnceInOrderAtTheirDelays_data();
    void launchPromptsRunOnceInOrderAtTheirDelays();

    void startIsRefusedWithoutMicrophoneOrRecognizer();
    void pressAndReleaseDriveTheDictationAndBusyPressesAreDropped();
    void audioStartFailuresEndInMicUnavailableOnlyForTheCurrentDictation();
    void aCancelledDictationLeavesNoTrace();

    void finalResultAndTimerRaceForTheTranscript();
    void blankTranscriptAndRecognitionErrors();

    void speculativeCleanUpsAreSpacedHalfASecondApart();
    void cleanUpStreamsPiecesAsKeystrokesAfterReactivating();
    void cleanUpRecordsTheStreamedTextAndLogsTrainingPairs_data();
    void cleanUpRecordsTheStreamedTextAndLogsTrainingPairs();
    void piecesFromANetworkThreadAreTypedBeforeTheEnd();
    void cleanUpWaitsForTheTrainingSyncThenSchedulesTheReadBack();
    void closuresDoNothingOnceTheOrchestratorIsGone();
    void dictationsInARowAreSeparated_data();
    void dictationsInARowAreSeparated();
    void theSeparatorGoesInFrontOfTheFirstWord();
    void unreadableFieldsGoByTheLastDictation();
};

void TestDictationOrchestrator::launchPromptsRunOnceInOrderAtTheirDelays_data()
{
    QTest::addColumn<bool>("accessibility");
    QTest::addColumn<bool>("promptedBefore");
    QTest::addColumn<QString>("due"); // the calls made at 0.4 s | at 1 s | at 61.6 s
    QTest::newRow("first launch, nothing granted")
        << false << false << QStringLiteral("promptAccessibility|requestListen|probeAutomation");
    QTest::newRow("accessibility granted")
        << true << false << QStringLiteral("requestListen|probeAutomation|");
    QTest::newRow("later launch after declining") << false << true << QStringLiteral("probeAutomation||");
}

void TestDictationOrchestrator::launchPromptsRunOnceInOrderAtTheirDelays()
{
    QFETCH(bool, accessibility);
    QFETCH(bool, promptedBefore);
    QFETCH(QString, due);
    const QStringList at = due.split(u'|');

    Rig rig(Rig::Setup::unbuilt);
    rig.permissions.accessibility = accessibility;
    rig.permissions.post = true;
    rig.hotkey.listenSucceeds = false; // input monitoring really missing
    if (promptedBefore) {
        rig.defaults.setBool(DictationOrchestrator::accessibilityPromptKey, true);
        rig.defaults.setBool(DictationOrchestrator::inputMonitoringPromptKey, true);
    }
    rig.build();
    rig.o().configurePipeline(); // a second call in the same launch schedules nothing more

    QStringList expected;
    for (const auto& [seconds, names] :
         {std::pair{0.399, QString()}, {0.001, at[0]}, {0.6, at[1]}, {60.6, at[2]}}) {
        rig.clock.advance(seconds);
        expected += names.split(u' ', Qt::SkipEmptyParts);
        QCOMPARE(rig.permissions.calls, expected);
    }
    QVERIFY(rig.defaults.boolForKey(DictationOrchestrator::accessibilityPromptKey) || accessibility);
    QVERIFY(rig.defaults.boolForKey(DictationOrchestrator::inputMonitoringPromptKey));
}

void TestDictationOrchestrator::startIsRefusedWithoutMicrophoneOrRecognizer()
{
    const QString unavailable = QStringLiteral("Speech recognition is not available on this device.");
    for (const bool micDenied : {true, false}) {
        Rig rig;
        rig.microphone.authorized = !micDenied;
        if (!micDenied)
            rig.recognizer.startFailure = unavailable;
        rig.hotkey.press();
        QCOMPARE(rig.o().state(), DictationState::error(micDenied ? kMicRequired : unavailable));
        QCOMPARE(rig.recognizer.calls.isEmpty(), micDenied);
        QVERIFY(!rig.o().insertionTarget() && rig.audio.calls.isEmpty() && rig.pillJournal.isEmpty());
    }
}

void TestDictationOrchestrator::pressAndReleaseDriveTheDictationAndBusyPressesAreDropped()
{
    Rig rig(Rig::Setup::cleanUp);
    rig.hotkey.release(); // idle: ignored
    QVERIFY(rig.audio.calls.isEmpty());
    rig.hotkey.press();
    QCOMPARE(rig.o().state(), DictationState::listening());
    QCOMPARE(rig.enhancer.cacheClears, 1);
    QCOMPARE(rig.pillJournal, QStringList{QStringLiteral("show listening")});

    rig.recognizer.emitResult(QStringLiteral("hello"), false);
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().currentTranscript(), QStringLiteral("hello"));

    rig.hotkey.release();
    QCOMPARE(rig.o().state(), DictationState::processing());
    QCOMPARE(rig.audio.calls, (QStringList{QStringLiteral("start"), QStringLiteral("stop")}));
    QCOMPARE(rig.recognizer.calls, (QStringList{QStringLiteral("start"), QStringLiteral("stop")}));
    rig.hotkey.release(); // processing: ignored
    QCOMPARE(rig.audio.calls.count(QStringLiteral("stop")), 1);

    rig.hotkey.press(); // while awaiting the transcript
    QCOMPARE(rig.o().state(), DictationState::processing());
    rig.recognizer.emitResult(QStringLiteral("hello"), true);
    rig.clock.advance(0.1);
    rig.hotkey.press(); // while the clean-up runs
    QCOMPARE(rig.recognizer.calls.count(QStringLiteral("start")), 1);
    rig.enhancer.answer({QStringLiteral("Hello.")}, {QStringLiteral("Hello."), true, {}});
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().state(), DictationState::idle());
    QCOMPARE(rig.o().recentDictations().first().text, QStringLiteral("Hello."));

    // An error is left by pressing again: the next dictation starts normally.
    rig.recognizer.startFailure = QStringLiteral("boom");
    rig.hotkey.press();
    QVERIFY(rig.o().state().isError());
    rig.recognizer.startFailure.reset();
    rig.hotkey.press();
    QCOMPARE(rig.o().state(), DictationState::listening());
}

void TestDictationOrchestrator::aCancelledDictationLeavesNoTrace()
{
    Rig rig;
    rig.hotkey.press();
    rig.recognizer.emitResult(QStringLiteral("hello"), false);
    rig.clock.runUntilIdle();
    rig.hotkey.onCancel();
    QCOMPARE(rig.o().state(), DictationState::idle());
    QCOMPARE(rig.audio.calls, (QStringList{QStringLiteral("start"), QStringLiteral("stop")}));
    QCOMPARE(rig.recognizer.calls, (QStringList{QStringLiteral("start"), QStringLiteral("stop")}));
    QCOMPARE(rig.pillJournal.last(), QStringLiteral("fade 0"));
    // Late news of it, and the release of the key, change nothing.
    rig.recognizer.emitResult(QStringLiteral("hello"), true);
    rig.hotkey.release();
    rig.clock.advance(2);
    QVERIFY(rig.inserter.inserted.isEmpty());
    QVERIFY(rig.typer.chunks.isEmpty());
    QCOMPARE(rig.o().state(), DictationState::idle());
    QVERIFY(rig.o().recentDictations().isEmpty());
}

void TestDictationOrchestrator::audioStartFailuresEndInMicUnavailableOnlyForTheCurrentDictation()
{
    {
        Rig rig;
        rig.audio.startError = QStringLiteral("No audio input device available");
        rig.hotkey.press();
        QCOMPARE(rig.o().state(), DictationState::listening()); // the failure arrives through the main queue
        rig.clock.runUntilIdle();
        QCOMPARE(rig.o().state(), DictationState::error(kMicUnavailable));
        QCOMPARE(rig.pillJournal.last(), QStringLiteral("fade 0.3"));
        QVERIFY(rig.recognizer.calls.contains(QStringLiteral("stop")));
        QVERIFY(!rig.o().insertionTarget());
        // The recogniser's teardown error that follows does not replace the message.
        rig.recognizer.emitError(QStringLiteral("cancelled"));
        rig.clock.runUntilIdle();
        QCOMPARE(rig.o().state(), DictationState::error(kMicUnavailable));
    }
    Rig rig; // a late failure of an earlier dictation's start is ignored
    rig.audio.completeStartAtOnce = false;
    rig.hotkey.press();
    auto lateFailure = std::exchange(rig.audio.pendingStart, {});
    rig.hotkey.release();
    rig.clock.advance(1); // blank transcript: back to idle
    rig.hotkey.press();
    lateFailure(QStringLiteral("device vanished"));
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().state(), DictationState::listening());
}

void TestDictationOrchestrator::finalResultAndTimerRaceForTheTranscript()
{
    {
        Rig rig; // a final result while still listening does not finalise
        rig.hotkey.press();
        rig.recognizer.emitResult(QStringLiteral("early final"), true);
        rig.clock.runUntilIdle();
        QCOMPARE(rig.o().state(), DictationState::listening());
        QVERIFY(rig.inserter.inserted.isEmpty());
    }
    {
        // The final result beats the timer. A finished dictation's timer does not cut the next one short.
        Rig rig;
        rig.dictate(QStringLiteral("one"));
        rig.clock.advance(0.2);
        rig.speakAndRelease(QStringLiteral("two so far")); // its own timer is due at 0.8 s
        rig.clock.advance(0.5);                            // past the first dictation's 0.6 s timer
        QCOMPARE(rig.inserter.inserted.size(), 1);
        rig.recognizer.emitResult(QStringLiteral("two complete"), true);
        rig.clock.advance(1);
        QCOMPARE(rig.insertedTexts(), (QStringList{QStringLiteral("one"), QStringLiteral(" two complete")}));
    }
    // The timer beats the final result: the live transcript is taken, the late final changes nothing. It
    // waits 0.6 s, or as long as a slow engine says it needs.
    for (const double allowance : {0.0, 2.5}) {
        Rig rig;
        rig.recognizer.allowance = allowance;
        rig.speakAndRelease(QStringLiteral("partial words"));
        rig.clock.advance(std::max(allowance, 0.6) - 0.001);
        QVERIFY(rig.inserter.inserted.isEmpty());
        rig.clock.advance(0.001);
        QCOMPARE(rig.insertedTexts(), QStringList{QStringLiteral("partial words")});
        rig.recognizer.emitResult(QStringLiteral("final words"), true);
        rig.clock.runUntilIdle();
        QCOMPARE(rig.insertedTexts(), QStringList{QStringLiteral("partial words")});
        QCOMPARE(rig.o().recentDictations().size(), 1);
    }
}

void TestDictationOrchestrator::blankTranscriptAndRecognitionErrors()
{
    const QString failed = QStringLiteral("Recognition failed");
    {
        Rig rig(Rig::Setup::cleanUp);
        rig.speakAndRelease(QStringLiteral(" \n  "));
        rig.clock.advance(0.6);
        QCOMPARE(rig.o().state(), DictationState::idle());
        QVERIFY(rig.inserter.inserted.isEmpty());
        QVERIFY(rig.enhancer.requests.isEmpty());
        QVERIFY(rig.o().recentDictations().isEmpty());
    }
    {
        Rig rig; // while listening: the microphone and the recogniser stop with the dictation
        rig.hotkey.press();
        rig.recognizer.emitError(failed);
        rig.clock.runUntilIdle();
        QCOMPARE(rig.o().state(), DictationState::error(failed));
        QVERIFY(!rig.audio.isRecording());
        QVERIFY(!rig.recognizer.recognizing);
    }
    {
        Rig rig; // after the stop, with words: they are the transcript
        rig.speakAndRelease(QStringLiteral("kept words"));
        rig.recognizer.emitError(failed);
        rig.clock.runUntilIdle();
        QCOMPARE(rig.o().state(), DictationState::idle());
        QCOMPARE(rig.inserter.inserted.first().text, QStringLiteral("kept words"));
    }
    Rig rig; // after the stop, with nothing heard
    rig.hotkey.press();
    rig.hotkey.release();
    rig.recognizer.emitError(QStringLiteral("No speech detected"));
    rig.clock.advance(1); // the finalisation timer finds nothing to do
    QCOMPARE(rig.o().state(), DictationState::error(QStringLiteral("No speech detected")));
}

void TestDictationOrchestrator::speculativeCleanUpsAreSpacedHalfASecondApart()
{
    Rig rig(Rig::Setup::cleanUp);
    rig.hotkey.press();
    auto partial = [&](const QString& text, double after) {
        rig.clock.advance(after);
        rig.recognizer.emitResult(text, false);
        rig.clock.runUntilIdle();
    };
    partial(QStringLiteral("a"), 0);
    partial(QStringLiteral("a b"), 0.4);   // too soon: skipped, not deferred
    partial(QStringLiteral("a b c"), 0.1); // 0.5 s after the first
    partial(QStringLiteral("a b c d"), 0.49);
    const std::optional<QString> editor = QStringLiteral("org.example.editor");
    QCOMPARE(rig.enhancer.speculative,
             (QList<std::pair<QString, std::optional<QString>>>{{QStringLiteral("a"), editor},
                                                                {QStringLiteral("a b c"), editor}}));

    rig.hotkey.release();
    partial(QStringLiteral("after release"), 1); // not listening any more
    QCOMPARE(rig.enhancer.speculative.size(), 2);
}

void TestDictationOrchestrator::cleanUpStreamsPiecesAsKeystrokesAfterReactivating()
{
    Rig rig(Rig::Setup::cleanUp);
    rig.snippets.addSnippet(QStringLiteral("sig"), QStringLiteral("Best, Ann"));
    rig.workspace.front = RunningApplication{QStringLiteral("org.example.mail"), 77, QStringLiteral("Mail")};
    rig.dictate(QStringLiteral("thanks sig"));
    QCOMPARE(rig.o().state(), DictationState::processing());
    QCOMPARE(rig.workspace.activations, QList<qint64>{4242});
    rig.clock.advance(0.099); // waiting 100 ms for the target to come forward
    QVERIFY(rig.enhancer.requests.isEmpty());
    rig.clock.advance(0.001);
    QCOMPARE(rig.enhancer.requests.size(), 1);
    QCOMPARE(rig.enhancer.requests.first().text, QStringLiteral("thanks Best, Ann"));

    auto request = rig.enhancer.requests.first();
    request.onToken(QStringLiteral("Thanks, "));
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().currentTranscript(), QStringLiteral("Thanks, "));
    request.onToken(QString()); // an empty piece types nothing
    request.onToken(QStringLiteral("Ann 👋🏽"));
    rig.clock.runUntilIdle();
    QCOMPARE(rig.typer.chunks, (QStringList{QStringLiteral("Thanks, "), QStringLiteral("Ann 👋🏽")}));
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
    QTest::addColumn<QString>("inserted"); // by the inserter, when nothing was streamed; null: nothing
    const auto row = [](const char* name, const char* pieces, const char* enhanced, bool wasEnhanced,
                        const char* recorded, bool logged, const char* inserted) {
        QTest::newRow(name) << QString::fromUtf8(pieces).split(u'|', Qt::SkipEmptyParts)
                            << QString::fromUtf8(enhanced) << wasEnhanced << QString::fromUtf8(recorded)
                            << logged << (inserted ? QString::fromUtf8(inserted) : QString());
    };
    row("recorded text is the stream, not the reply", "Hello |world", "Hello world!", true, "Hello world",
        true, nullptr);
    row("unchanged by the model", "hello world", "hello world", true, "hello world", false, nullptr);
    row("model failed, raw text inserted", "", "hello world", false, "hello world", false, "hello world");
    row("nothing streamed, the reply inserted", "", "Hello, world.", true, "Hello, world.", true,
        "Hello, world.");
    row("nothing streamed, nothing back", "", "", true, "", true, nullptr);
}

void TestDictationOrchestrator::cleanUpRecordsTheStreamedTextAndLogsTrainingPairs()
{
    QFETCH(QStringList, pieces);
    QFETCH(QString, enhanced);
    QFETCH(bool, wasEnhanced);
    QFETCH(bool, logged);
    QFETCH(QString, inserted);

    Rig rig(Rig::Setup::cleanUp);
    rig.dictate(QStringLiteral("hello world"));
    rig.answerCleanUp(pieces, enhanced, wasEnhanced);

    QCOMPARE(rig.o().state(), DictationState::idle());
    const DictationResult result = rig.o().recentDictations().first();
    QTEST(result.text, "recorded");
    QCOMPARE(result.rawTranscript, std::optional<QString>(QStringLiteral("hello world")));
    QCOMPARE(rig.typer.chunks, pieces);
    QCOMPARE(rig.insertedTexts(), inserted.isNull() ? QStringList() : QStringList{inserted});
    QCOMPARE(rig.training.entries.size(), logged ? 1 : 0);
    if (logged)
        QCOMPARE(std::pair(rig.training.entries.first().raw, rig.training.entries.first().enhanced),
                 std::pair(QStringLiteral("hello world"), enhanced));
    QCOMPARE(rig.training.syncs, QList<bool>{false}); // every pass syncs, logged or not
}

void TestDictationOrchestrator::piecesFromANetworkThreadAreTypedBeforeTheEnd()
{
    Rig rig(Rig::Setup::cleanUp);
    rig.inserter.target.reset(); // no target: no re-activation pause
    rig.dictate(QStringLiteral("one two three"));
    QCOMPARE(rig.enhancer.requests.size(), 1);
    QStringList pieces;
    for (int i = 0; i < 200; ++i)
        pieces << QStringLiteral("w%1 ").arg(i);
    rig.enhancer.answer(pieces, EnhancementResult{pieces.join(QString()).trimmed(), true, std::nullopt},
                        true);
    rig.clock.runUntilIdle();
    QCOMPARE(rig.typer.chunks, pieces);
    QCOMPARE(rig.o().recentDictations().first().text, pieces.join(QString()));
    QVERIFY(rig.workspace.activations.isEmpty());
}

void TestDictationOrchestrator::cleanUpWaitsForTheTrainingSyncThenSchedulesTheReadBack()
{
    Rig rig(Rig::Setup::cleanUp);
    rig.training.holdSync = true;
    rig.dictate(QStringLiteral("hello"));
    rig.answerCleanUp({QStringLiteral("Hello.")}, QStringLiteral("Hello."));
    QCOMPARE(rig.o().state(), DictationState::processing());
    QVERIFY(rig.o().recentDictations().isEmpty());
    rig.training.finishSync();
    rig.clock.runUntilIdle();
    QCOMPARE(rig.o().state(), DictationState::idle());
    QCOMPARE(rig.o().recentDictations().size(), 1);

    rig.clock.advance(7.999);
    QVERIFY(rig.postPaste.captures.isEmpty());
    rig.clock.advance(0.001);
    QCOMPARE(rig.postPaste.captures.size(), 1);
    QCOMPARE(std::pair(rig.postPaste.captures.first().insertedText, rig.postPaste.captures.first().rawText),
             std::pair(QStringLiteral("Hello."), QStringLiteral("hello")));

    // A read-back that falls due while the next dictation is listening is dropped for good.
    rig.training.holdSync = false;
    rig.dictate(QStringLiteral("again"));
    rig.answerCleanUp({QStringLiteral("Again.")}, QStringLiteral("Again."));
    rig.clock.advance(7.5);
    rig.hotkey.press();
    rig.clock.advance(10);
    QCOMPARE(rig.postPaste.captures.size(), 1);
}

void TestDictationOrchestrator::closuresDoNothingOnceTheOrchestratorIsGone()
{
    Rig rig(Rig::Setup::cleanUp);
    rig.dictate(QStringLiteral("hello"));
    rig.clock.advance(0.1);
    auto request = rig.enhancer.requests.takeFirst();
    auto onStart = rig.hotkey.onStart;
    auto onResult = rig.recognizer.onResult;
    rig.orchestrator.reset();
    request.onToken(QStringLiteral("Hello"));
    request.done(EnhancementResult{QStringLiteral("Hello"), true, {}});
    onStart();
    onResult(DictationResult{QStringLiteral("late"), true, {}, {}});
    rig.clock.advance(30);
    QVERIFY(rig.training.entries.isEmpty());
}

void TestDictationOrchestrator::dictationsInARowAreSeparated_data()
{
    QTest::addColumn<QString>("beforeCaret");
    QTest::addColumn<QString>("heard");
    QTest::addColumn<QString>("inserted");
    row("after a word", "young man", "he might", " he might");
    row("start of the field", "", "he might", "he might");
    row("after a space", "man ", "  he", "he");
    row("before a comma", "man", ", he", ", he");
    row("after a bracket", "(", "he", "he");
    row("no spaces in Chinese", "你好", "世界", "世界");
}

void TestDictationOrchestrator::dictationsInARowAreSeparated()
{
    QFETCH(QString, beforeCaret);
    QFETCH(QString, heard);
    QFETCH(QString, inserted);
    Rig rig;
    rig.inserter.beforeCaret = beforeCaret;
    rig.dictate(heard);
    QCOMPARE(rig.insertedTexts(), QStringList{inserted});
    QCOMPARE(rig.o().recentDictations().first().text, heard); // itself unchanged
}

void TestDictationOrchestrator::theSeparatorGoesInFrontOfTheFirstWord()
{
    Rig streamed(Rig::Setup::cleanUp);
    streamed.inserter.beforeCaret = QStringLiteral("young man");
    streamed.dictate(QStringLiteral("he might"));
    streamed.clock.advance(0.1);
    for (const QString& piece : {QStringLiteral(" "), QStringLiteral("Then"), QStringLiteral(" he left.")})
        streamed.enhancer.requests.first().onToken(piece);
    streamed.clock.runUntilIdle();
    QCOMPARE(streamed.typer.chunks, (QStringList{QStringLiteral(" Then"), QStringLiteral(" he left.")}));
}

// Without clean-up: snippets expanded, inserted at once into the target of the press, nothing typed, read
// back or synced.
void TestDictationOrchestrator::unreadableFieldsGoByTheLastDictation()
{
    Rig rig; // the fake field cannot be read
    rig.snippets.addSnippet(QStringLiteral("my address"), QStringLiteral("1 Main Street"));
    rig.dictate(QStringLiteral("first"));
    rig.dictate(QStringLiteral("second."));
    rig.dictate(QStringLiteral("third\n"));
    rig.dictate(QStringLiteral("fourth"));
    rig.dictate(QStringLiteral("to My Address"));
    QCOMPARE(rig.inserter.inserted.first().target->processIdentifier, 4242);
    QCOMPARE(rig.o().recentDictations().first().text, QStringLiteral("to 1 Main Street"));
    rig.clock.advance(30);
    QVERIFY(rig.typer.chunks.isEmpty() && rig.postPaste.captures.isEmpty() && rig.training.syncs.isEmpty());
    // Another application knows nothing of it; in a terminal nothing is assumed (Enter leaves no trace).
    rig.inserter.target = InsertionTarget{QStringLiteral("org.gnome.Terminal"), 99, nullptr};
    rig.dictate(QStringLiteral("ls"));
    rig.dictate(QStringLiteral("pwd"));
    QCOMPARE(rig.insertedTexts(),
             (QStringList{QStringLiteral("first"), QStringLiteral(" second."), QStringLiteral(" third\n"),
                          QStringLiteral("fourth"), QStringLiteral(" to 1 Main Street"), QStringLiteral("ls"),
                          QStringLiteral("pwd")}));
}

QTEST_GUILESS_MAIN(TestDictationOrchestrator)
#include "tst_dictationorchestrator.moc"
