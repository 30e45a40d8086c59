#include "base/VirtualScheduler.h"
#include "capture/SpeechRecognizer.h"
#include "fakes/FakeSpeechEngine.h"

#include <QTest>

using namespace quenda;

class TestSpeechRecognizer : public QObject {
    Q_OBJECT

    struct Rig {
        VirtualScheduler queue;
        std::shared_ptr<fakes::FakeSpeechEngine> engine = std::make_shared<fakes::FakeSpeechEngine>();
        bool hasEngine = true;
        SpeechRecognizer recognizer{
            queue, [this]() -> std::shared_ptr<SpeechEngine> { return hasEngine ? engine : nullptr; }};
        QList<DictationResult> results;
        QStringList errors;

        Rig()
        {
            recognizer.setOnResult([this](const DictationResult& result) { results << result; });
            recognizer.setOnError([this](const QString& error) { errors << error; });
        }
        fakes::FakeSpeechEngine::Session& session(int index) { return *engine->sessions.at(index); }
        QStringList texts() const
        {
            QStringList list;
            for (const DictationResult& result : results)
                list << result.text + (result.isFinal ? QStringLiteral(" (final)") : QString());
            return list;
        }
        static AudioBuffer frames(int count)
        {
            AudioBuffer buffer;
            buffer.sampleRate = 16000;
            buffer.data = QByteArray(count * 2, 0);
            return buffer;
        }
    };

private Q_SLOTS:
    void notAvailable()
    {
        const auto text =
            std::optional<QString>(QStringLiteral("Speech recognition is not available on this device."));
        Rig rig;
        rig.hasEngine = false;
        QCOMPARE(rig.recognizer.startRecognition(), text);
        rig.hasEngine = true;
        rig.engine->available = false;
        QCOMPARE(rig.recognizer.startRecognition(), text);
        QVERIFY(!rig.recognizer.isRecognizing());
        QVERIFY(rig.engine->sessions.isEmpty());
    }

    void segmentsAreJoined()
    {
        Rig rig;
        QCOMPARE(rig.recognizer.startRecognition(), std::nullopt);
        rig.session(0).result(QStringLiteral("hello"), false);
        rig.session(0).error(QStringLiteral("segment over"), true);
        QVERIFY(rig.session(0).cancelled);
        rig.recognizer.appendAudio(Rig::frames(320)); // the rest of the dictation goes to the new segment
        QCOMPARE(rig.session(1).frames, 320);
        // A segment of silence adds no stray space.
        rig.session(1).result(QString(), false);
        QCOMPARE(rig.texts().last(), QStringLiteral("hello"));
        rig.session(1).error(QString(), true);
        rig.session(2).result(QStringLiteral("done"), true);
        QCOMPARE(rig.texts().last(), QStringLiteral("hello done (final)"));
        QVERIFY(rig.errors.isEmpty());
        rig.queue.runUntilIdle();
        QVERIFY(!rig.recognizer.isRecognizing());

        // A final result drops the request: later audio of the dictation is not recognised.
        rig.recognizer.appendAudio(Rig::frames(160));
        QCOMPARE(rig.session(2).frames, 0);

        // The next dictation starts from an empty transcript.
        rig.recognizer.startRecognition();
        rig.session(3).result(QStringLiteral("fresh"), false);
        QCOMPARE(rig.results.last().text, QStringLiteral("fresh"));
    }

    void tearDownAfterStop()
    {
        Rig rig;
        rig.recognizer.startRecognition();
        rig.recognizer.stopRecognition();
        QVERIFY(rig.session(0).ended);
        QVERIFY(!rig.recognizer.isRecognizing());
        rig.queue.advance(0.99);
        QVERIFY(!rig.session(0).cancelled);
        rig.session(0).result(QStringLiteral("late but in time"), true);
        rig.queue.advance(0.02);
        QVERIFY(!rig.session(0).cancelled); // the final result made the tear-down unnecessary
        QCOMPARE(rig.texts(), QStringList{QStringLiteral("late but in time (final)")});
    }

    void modelReleasedAfterIdle()
    {
        Rig rig;
        rig.recognizer.startRecognition();
        rig.recognizer.stopRecognition();
        // A dictation within the idle time keeps the model, and the time counts from its stop.
        rig.queue.advance(SpeechRecognizer::modelIdleRelease - 1);
        rig.recognizer.startRecognition();
        rig.queue.advance(2);
        rig.recognizer.stopRecognition();
        rig.queue.advance(SpeechRecognizer::modelIdleRelease - 1);
        QCOMPARE(rig.engine->releases, 0);
        rig.queue.advance(1);
        QCOMPARE(rig.engine->releases, 1);
    }

    // No final result: the request is cancelled once the engine's allowance is up.
    void tearDownWaitsForWhatTheEngineAsks_data()
    {
        QTest::addColumn<double>("allowance");
        QTest::addColumn<double>("tearDown");
        QTest::newRow("at once") << 0.0 << 1.0;
        QTest::newRow("a slow final") << 4.0 << 4.5;
    }
    void tearDownWaitsForWhatTheEngineAsks()
    {
        QFETCH(double, allowance);
        QFETCH(double, tearDown);
        Rig rig;
        rig.engine->allowance = allowance;
        rig.recognizer.startRecognition();
        rig.recognizer.stopRecognition();
        QCOMPARE(rig.recognizer.finalAllowance(), allowance);
        rig.queue.advance(tearDown - 0.01);
        QVERIFY(!rig.session(0).cancelled);
        rig.queue.advance(0.01);
        QVERIFY(rig.session(0).cancelled);
        rig.session(0).result(QStringLiteral("too late"), true); // nothing it says now is heard
        QVERIFY(rig.results.isEmpty());
    }

    void segmentEndingAroundTheStop()
    {
        // The segment closes just after the stop (the engine was still decoding): a new segment takes
        // the rest of the audio and is ended at once.
        Rig rig;
        rig.recognizer.startRecognition();
        rig.session(0).result(QStringLiteral("last words"), false);
        rig.recognizer.stopRecognition();
        rig.session(0).error(QString(), true);
        QVERIFY(rig.session(1).ended);
        rig.session(1).result(QStringLiteral("and more"), true);
        QCOMPARE(rig.texts().last(), QStringLiteral("last words and more (final)"));

        // It closes first and the stop comes while the next segment is starting: that one is ended too,
        // so its final result still arrives.
        rig.results.clear();
        rig.recognizer.startRecognition();
        rig.session(2).result(QStringLiteral("first"), false);
        rig.session(2).error(QString(), true);
        rig.recognizer.stopRecognition();
        QVERIFY(rig.session(3).ended);
        rig.session(3).result(QString(), true);
        QCOMPARE(rig.texts().last(), QStringLiteral("first (final)"));
    }

    void restartWithinTheTearDownDelay()
    {
        Rig rig;
        rig.recognizer.startRecognition();
        rig.recognizer.stopRecognition();
        rig.queue.advance(0.5);
        rig.recognizer.startRecognition();
        QVERIFY(rig.session(0).cancelled); // the old request makes way
        rig.queue.advance(1.0);
        QVERIFY(!rig.session(1).cancelled);
        QVERIFY(rig.recognizer.isRecognizing());
        rig.session(0).result(QStringLiteral("old"), false);
        rig.session(1).result(QStringLiteral("new"), false);
        QCOMPARE(rig.texts(), QStringList{QStringLiteral("new")});
    }

    void errors()
    {
        Rig rig;
        rig.recognizer.startRecognition();
        rig.session(0).error(QStringLiteral("engine broke"));
        rig.session(0).error(QStringLiteral("and again"));
        QCOMPARE(rig.errors, QStringList{QStringLiteral("engine broke")});
        rig.queue.runUntilIdle();
        QVERIFY(!rig.recognizer.isRecognizing());

        // After the stop, an error (the cancelled request's, say) is dropped.
        rig.recognizer.startRecognition();
        rig.recognizer.stopRecognition();
        rig.session(1).error(QStringLiteral("cancelled"));
        QCOMPARE(rig.errors.size(), 1);
        rig.queue.advance(2);
        QCOMPARE(rig.errors.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSpeechRecognizer)
#include "tst_speechrecognizer.moc"
