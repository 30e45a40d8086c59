#include "base/Log.h"
#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "capture/SpeechEngineSelector.h"
#include "fakes/FakeSpeechEngine.h"
#include "platform/linux/WhisperEngine.h"

#include <QMutex>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace quenda;

namespace {

const QString englishModel = QStringLiteral(QUENDA_TEST_MODELS "/ggml-test.en.bin");
const QString multilingualModel = QStringLiteral(QUENDA_TEST_MODELS "/ggml-test.bin");

// A tone with a little noise, 16 kHz mono: what it says does not matter to a model with random weights.
AudioBuffer tone(double seconds, int sampleRate = 16000)
{
    AudioBuffer buffer;
    buffer.sampleRate = sampleRate;
    const int count = int(seconds * sampleRate);
    buffer.data.resize(count * 2);
    auto* samples = reinterpret_cast<qint16*>(buffer.data.data());
    for (int i = 0; i < count; ++i)
        samples[i] = qint16(6000 * std::sin(i * 0.07) + int(qint64(i) * 7919 % 400) - 200);
    return buffer;
}

// What a session reported, gathered from the engine's thread.
struct Heard {
    QMutex mutex;
    QStringList partials;
    std::optional<QString> final;
    QStringList errors;

    SpeechSession::Callbacks callbacks()
    {
        return {[this](const QString& text, bool isFinal) {
                    QMutexLocker locker(&mutex);
                    if (isFinal)
                        final = text;
                    else
                        partials << text;
                },
                [this](const SpeechEngineError& error) {
                    QMutexLocker locker(&mutex);
                    errors << error.description;
                }};
    }
    std::optional<QString> finalText()
    {
        QMutexLocker locker(&mutex);
        return final;
    }
    int partialCount()
    {
        QMutexLocker locker(&mutex);
        return int(partials.size());
    }
};

std::shared_ptr<WhisperEngine> engineFor(const QString& path, WhisperEngine::Options options = {})
{
    options.modelPath = path;
    return std::make_shared<WhisperEngine>(std::move(options));
}

} // namespace

class TestWhisperEngine : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    // Partials while the audio comes, the final at its end, and a second dictation after a release.
    void dictationsOnOneModel()
    {
        WhisperEngine::Options options;
        options.partialInterval = 0.05;
        auto engine = engineFor(englishModel, options);
        QVERIFY(engine->isAvailable());
        QVERIFY2(engine->waitUntilLoaded(), qPrintable(engine->unavailableReason()));
        QCOMPARE(engine->modelInfo()->shapeName(), QStringLiteral("custom.en"));

        Heard first;
        auto session = engine->startSession(first.callbacks());
        session->append(tone(0.5, 48000)); // the microphone's own rate is resampled
        QTRY_VERIFY(first.partialCount() > 0);
        session->append(tone(1.0, 48000));
        session->endAudio();
        QVERIFY(engine->finalAllowance() > 1.0);
        QTRY_COMPARE(first.finalText(), std::optional<QString>(QStringLiteral("hello")));
        QCOMPARE(first.partials.first(), QStringLiteral("hello"));
        QVERIFY(first.errors.isEmpty());

        // Released while idle, the model comes back for the next dictation.
        engine->releaseModel();
        QTRY_VERIFY(!engine->isModelLoaded());
        Heard second; // shorter than a second: padded, still heard
        session = engine->startSession(second.callbacks());
        session->append(tone(0.4));
        session->endAudio();
        QTRY_COMPARE(second.finalText(), std::optional<QString>(QStringLiteral("hello")));
        QVERIFY(engine->isModelLoaded());

        Heard silent; // no audio at all: an empty final at once
        session = engine->startSession(silent.callbacks());
        session->endAudio();
        QTRY_COMPARE(silent.finalText(), std::optional<QString>(QString()));
    }

    // Cancelling stops a pass under way (through the library's abort callback); the engine goes on.
    void cancelStopsThePassUnderWay()
    {
        std::shared_ptr<SpeechSession> session;
        std::atomic_bool armed{false};
        std::atomic_int stopped{0};
        WhisperEngine::Options options;
        options.partialInterval = 3600; // finals only
        options.onPassStarted = [&](bool isFinal) {
            if (isFinal && armed.exchange(false))
                session->cancel(); // from the engine's own thread, as the pass begins
        };
        options.onPassEnded = [&](bool, bool completed, double) { stopped += completed ? 0 : 1; };
        auto engine = engineFor(englishModel, options);
        QVERIFY(engine->waitUntilLoaded());

        Heard cancelled;
        session = engine->startSession(cancelled.callbacks());
        session->append(tone(70)); // three windows of 30 s
        armed = true;
        session->endAudio();
        QTRY_COMPARE(stopped.load(), 1);

        Heard next;
        auto another = engine->startSession(next.callbacks());
        another->append(tone(1));
        another->endAudio();
        QTRY_COMPARE(next.finalText(), std::optional<QString>(QStringLiteral("hello")));
        QVERIFY(!cancelled.finalText());
        QVERIFY(cancelled.errors.isEmpty());
    }

    void unavailableEnginesSayWhy_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("oldProcessor");
        QTest::addColumn<QString>("reason");
        QTest::newRow("old processor")
            << englishModel << true << QStringLiteral("needs a processor with AVX2");
        QTest::newRow("no model chosen")
            << QString() << false << QStringLiteral("No whisper model is chosen");
        QTest::newRow("missing file")
            << m_dir.filePath(QStringLiteral("none.bin")) << false << QStringLiteral("does not exist");
    }
    void unavailableEnginesSayWhy()
    {
        QFETCH(QString, path);
        QFETCH(bool, oldProcessor);
        QFETCH(QString, reason);
        WhisperEngine::Options options;
        if (oldProcessor)
            options.processorSupported = [] { return false; };
        auto engine = engineFor(path, options);
        QVERIFY(!engine->waitUntilLoaded());
        QVERIFY(!engine->isAvailable());
        QVERIFY2(engine->unavailableReason().contains(reason), qPrintable(engine->unavailableReason()));
    }

    void languageFollowsTheModelAndTheLocale_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("language");
        QTest::newRow("English-only model") << englishModel << QStringLiteral("de") << QStringLiteral("en");
        QTest::newRow("multilingual, German")
            << multilingualModel << QStringLiteral("de") << QStringLiteral("de");
        QTest::newRow("unknown language")
            << multilingualModel << QStringLiteral("xx") << QStringLiteral("en");
    }
    void languageFollowsTheModelAndTheLocale()
    {
        QFETCH(QString, model);
        QFETCH(QString, requested);
        QFETCH(QString, language);
        WhisperEngine::Options options;
        options.language = requested;
        auto engine = engineFor(model, options);
        QVERIFY(engine->waitUntilLoaded());
        QCOMPARE(engine->language(), language);
    }

    // "whisper" with a model that cannot be used: PocketSphinx stands in, and the log says why, once.
    void theSelectorFallsBackToPocketSphinx()
    {
        UserDefaults defaults(m_dir.filePath(QStringLiteral("settings.conf")));
        VirtualScheduler queue;
        auto offline = std::make_shared<fakes::FakeSpeechEngine>();
        SpeechEngineSelector selector(defaults, queue, [offline] { return offline; });
        selector.setWhisperFactory(&WhisperEngine::create);
        QStringList lines;
        const Log::Sink previous = Log::setSink([&lines](const QString& line) { lines << line; });
        defaults.setString(SpeechEngineSelector::engineKey, QStringLiteral("whisper"));
        defaults.setString(QStringLiteral("whisperModelPath"), m_dir.filePath(QStringLiteral("gone.bin")));
        QCOMPARE(selector.current(), offline);
        QCOMPARE(selector.current(), offline);
        defaults.setString(QStringLiteral("whisperModelPath"), englishModel);
        const auto whisper = std::dynamic_pointer_cast<WhisperEngine>(selector.current());
        QVERIFY(whisper);
        QVERIFY(whisper->waitUntilLoaded());
        Log::setSink(previous);
        QCOMPARE(lines.filter(QStringLiteral("[Speech]")),
                 QStringList{
                     QStringLiteral("[Speech] The whisper engine is unavailable: The whisper model %1 does "
                                    "not exist. Using PocketSphinx instead.")
                         .arg(m_dir.filePath(QStringLiteral("gone.bin")))});
    }
};

QTEST_GUILESS_MAIN(TestWhisperEngine)
#include "tst_whisperengine.moc"
