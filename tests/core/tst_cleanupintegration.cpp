// One dictation end to end over the real clean-up: the real orchestrator on the Qt event loop, the real text
// enhancer, Groq client, training logger and read-back capture, against a loopback server that speaks Groq's
// wire format. Capture, insertion and the pill are fakes.
#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "core/DictationOrchestrator.h"
#include "core/PostPasteCorrector.h"
#include "fakes/FakeFocusedValueReader.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/LogCapture.h"
#include "fakes/PipelineFakes.h"
#include "fakes/Waiting.h"
#include "net/KeychainStore.h"
#include "net/QuendaAPIClient.h"
#include "text/PersonalDictionary.h"
#include "text/SnippetManager.h"
#include "text/TextEnhancer.h"
#include "training/TrainingDataLogger.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

const QStringList kPieces = {QStringLiteral("Send"), QStringLiteral(" the report"),
                             QStringLiteral(" to Anna"), QStringLiteral(" now.")};

struct Rig : PipelineFakes {
    QTemporaryDir dir;
    QtScheduler mainQueue;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    SnippetManager snippets{defaults};
    PersonalDictionary dictionary{defaults, mainQueue};
    KeychainStore keychain{nullptr, dir.filePath(QStringLiteral("secrets.json"))};
    FakeHttpServer groq;
    LogCapture logs;
    QuendaAPIClient backend{defaults, keychain, [this] { return dictionary.requestDictionary(); }};
    TrainingDataLogger trainingLog{dir.filePath(QStringLiteral("training-data.jsonl")), &backend};
    FakeFocusedValueReader reader;
    std::unique_ptr<TextEnhancer> realEnhancer;
    std::unique_ptr<PostPasteCorrector> realPostPaste;
    std::unique_ptr<DictationOrchestrator> orchestrator;

    Rig()
    {
        keychain.save(KeychainStore::groqAccount, QStringLiteral("gsk-integration"));
        // Plain requests (speculative clean-ups) get the whole text, streamed ones the pieces.
        groq.setHandler([](const RecordedRequest& request) {
            if (request.json().value(QLatin1String("stream")).toBool())
                return wire::groqStream(kPieces, 30, 10);
            return FakeReply::json(200, wire::groqCompletion(kPieces.join(QString())));
        });
        TextEnhancer::Options options;
        options.groqConfig = GroqClient::Config{};
        options.groqConfig->url = groq.url(QStringLiteral("/openai/v1/chat/completions"));
        realEnhancer =
            std::make_unique<TextEnhancer>(mainQueue, backend, keychain, defaults, dictionary, options);
        realPostPaste = std::make_unique<PostPasteCorrector>(reader, trainingLog, dictionary, mainQueue);

        DictationCollaborators c = collaborators(mainQueue, defaults, snippets);
        c.trainingLog = &trainingLog;
        c.textEnhancer = realEnhancer.get();
        c.postPasteCapture = realPostPaste.get();
        orchestrator = std::make_unique<DictationOrchestrator>(c);
        orchestrator->configurePipeline();
    }

    ~Rig()
    {
        orchestrator.reset();
        trainingLog.waitForPendingWork();
    }

    bool waitForIdle()
    {
        return waitUntil(
            [this] { return orchestrator->state().isIdle() && !orchestrator->recentDictations().isEmpty(); });
    }
};

} // namespace

class TestCleanUpIntegration : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dictationStreamsPiecesIntoTheFrontApplicationAndLogsThePair();
    void speculativeResultIsTypedWithoutAFinalRequest();
};

void TestCleanUpIntegration::dictationStreamsPiecesIntoTheFrontApplicationAndLogsThePair()
{
    Rig rig;
    QVERIFY(waitUntil([&] { return rig.orchestrator->textEnhancer().isCleanUpAvailable(); }));
    rig.hotkey.press();
    QVERIFY(waitUntil([&] { return rig.orchestrator->state().isListening(); }));
    rig.recognizer.emitResult(QStringLiteral("um send the"), false); // too short for a speculative clean-up
    rig.hotkey.release();
    rig.recognizer.emitResult(QStringLiteral("um send the report to anna now"), true);
    QVERIFY(rig.waitForIdle());

    // The pieces went to the front application as typed text, one by one, as they streamed in.
    QCOMPARE(rig.typer.chunks, kPieces);
    QVERIFY(rig.inserter.inserted.isEmpty());
    const DictationResult& result = rig.orchestrator->recentDictations().first();
    QCOMPARE(result.text, QStringLiteral("Send the report to Anna now."));
    QCOMPARE(result.rawTranscript, QStringLiteral("um send the report to anna now"));
    QCOMPARE(rig.groq.requestCount(), 1);

    // The changed pair is in the training log, on disk.
    rig.trainingLog.waitForPendingWork();
    const QList<TrainingEntry> entries = rig.trainingLog.allEntries();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().raw, result.rawTranscript);
    QCOMPARE(entries.first().enhanced, result.text);
    QCOMPARE(entries.first().app, QStringLiteral("org.example.editor"));
}

void TestCleanUpIntegration::speculativeResultIsTypedWithoutAFinalRequest()
{
    Rig rig;
    rig.hotkey.press();
    QVERIFY(waitUntil([&] { return rig.orchestrator->state().isListening(); }));
    rig.recognizer.emitResult(QStringLiteral("send the report to anna now"), false);
    QVERIFY(waitUntil(
        [&] { return !rig.logs.linesWith(QStringLiteral("[Speculative] Cached result")).isEmpty(); }));
    rig.hotkey.release();
    rig.recognizer.emitResult(QStringLiteral("send the report to anna now"), true);
    QVERIFY(rig.waitForIdle());
    QCOMPARE(rig.groq.requestCount(), 1); // only the speculative one
    QCOMPARE(rig.typer.typed, QStringLiteral("Send the report to Anna now."));
    QCOMPARE(rig.typer.chunks.size(), 28); // the cached text is replayed one character at a time
    rig.trainingLog.waitForPendingWork();
    QCOMPARE(rig.trainingLog.allEntries().size(), 1);
}

QTEST_GUILESS_MAIN(TestCleanUpIntegration)
#include "tst_cleanupintegration.moc"
