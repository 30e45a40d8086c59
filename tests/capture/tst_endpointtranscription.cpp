#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "capture/SpeechEngineSelector.h"
#include "capture/WavFile.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FakeSpeechEngine.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using fakes::FakeReply;
using fakes::wire::transcription;

class TestEndpointTranscription : public QObject {
    Q_OBJECT

    struct Rig {
        fakes::FakeHttpServer server;
        VirtualScheduler queue;
        std::shared_ptr<EndpointTranscriptionEngine> engine = std::make_shared<EndpointTranscriptionEngine>(
            EndpointTranscriptionEngine::Config{server.url(QStringLiteral("/v1/audio/transcriptions")),
                                                QStringLiteral("tiny"), QStringLiteral("secret")},
            queue);
        // Replies come back through the main queue.
        Rig& pumped()
        {
            queue.runUntilIdle();
            return *this;
        }
        std::shared_ptr<SpeechSession> session;
        QStringList results;
        QStringList errors;

        void start()
        {
            session = engine->startSession(
                {[this](const QString& text, bool isFinal) {
                     results << text + (isFinal ? QStringLiteral(" (final)") : QString());
                 },
                 [this](const SpeechEngineError& error) { errors << error.description; }});
        }
        // Seconds of a quiet tone at 16 kHz, mono Int16.
        void speak(double seconds)
        {
            AudioBuffer buffer;
            buffer.sampleRate = 16000;
            const int frames = int(seconds * 16000);
            buffer.data.resize(frames * 2);
            auto* samples = reinterpret_cast<qint16*>(buffer.data.data());
            for (int i = 0; i < frames; ++i)
                samples[i] = qint16((i % 40) * 100);
            session->append(buffer);
        }
        qsizetype uploadedFrames(int request) const
        {
            QString error;
            const auto wav =
                WavFile::parse(server.requests().at(request).parts().value("file").content, &error);
            return wav && wav->sampleRate == 16000 && wav->channelCount == 1 ? wav->frameCount() : -1;
        }
    };

private Q_SLOTS:
    void partialsWhileSpeakingThenFinal()
    {
        Rig rig;
        int replies = 0;
        rig.server.setHandler([&](const fakes::RecordedRequest&) {
            return transcription(QStringLiteral(" words %1").arg(++replies));
        });
        rig.start();
        rig.speak(0.2);
        rig.queue.advance(1.0); // too little audio for a request
        QCOMPARE(rig.server.requestCount(), 0);
        rig.speak(0.3);
        rig.queue.advance(1.0);
        QTRY_COMPARE(rig.pumped().results, QStringList{QStringLiteral("words 1")});

        const fakes::RecordedRequest first = rig.server.requests().first();
        const auto parts = first.parts();
        QCOMPARE((QByteArrayList{first.method + ' ' + first.path, first.header("authorization"),
                                 parts.value("model").content, parts.value("response_format").content,
                                 parts.value("file").fileName, parts.value("file").contentType}),
                 (QByteArrayList{"POST /v1/audio/transcriptions", "Bearer secret", "tiny", "json",
                                 "audio.wav", "audio/wav"}));
        QCOMPARE(rig.uploadedFrames(0), 8000);

        rig.queue.advance(1.0); // nothing new to say: no request
        QTest::qWait(20);
        rig.queue.runUntilIdle();
        QCOMPARE(rig.server.requestCount(), 1);

        rig.speak(0.5);
        rig.queue.advance(1.0);
        QTRY_COMPARE(rig.pumped().results.size(), 2);
        QCOMPARE(rig.uploadedFrames(1), 16000);

        rig.speak(0.25);
        rig.session->endAudio();
        QTRY_COMPARE(rig.pumped().results.last(), QStringLiteral("words 3 (final)"));
        QCOMPARE(rig.uploadedFrames(2), 20000);
        rig.queue.advance(3.0); // no partials after the end
        QTest::qWait(20);
        rig.queue.runUntilIdle();
        QCOMPARE(rig.server.requestCount(), 3);
        QVERIFY(rig.errors.isEmpty());
    }

    void slowServiceGetsOneRequestAtATime()
    {
        Rig rig;
        rig.server.enqueue(transcription(QStringLiteral("slow"), true));
        rig.start();
        rig.speak(1.0);
        rig.queue.advance(1.0);
        QVERIFY(rig.server.waitForRequests(1));
        for (int second = 0; second < 3; ++second) {
            rig.speak(1.0);
            rig.queue.advance(1.0);
        }
        QTest::qWait(50);
        rig.queue.runUntilIdle();
        QCOMPARE(rig.server.requestCount(), 1);

        // The stop supersedes the slow partial: its answer never shows up, the final one does.
        rig.server.enqueue(transcription(QStringLiteral("all of it")));
        rig.session->endAudio();
        QTRY_COMPARE(rig.pumped().results, QStringList{QStringLiteral("all of it (final)")});
        QCOMPARE(rig.uploadedFrames(1), 64000);
        rig.server.releaseHeld();
        QTest::qWait(50);
        rig.queue.runUntilIdle();
        QCOMPARE(rig.results.size(), 1);
    }

    void failures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");

        QTest::newRow("refused key") << 401 << QByteArray(R"({"error":{"message":"Invalid API Key"}})")
                                     << QStringLiteral("Transcription failed (HTTP 401): Invalid API Key");
        QTest::newRow("plain-text failure")
            << 503 << QByteArray("busy, try later")
            << QStringLiteral("Transcription failed (HTTP 503): busy, try later");
        QTest::newRow("not JSON") << 200 << QByteArray("<html>hello</html>")
                                  << QStringLiteral("The transcription service sent an unreadable reply.");
        QTest::newRow("unreachable") << 0 << QByteArray()
                                     << QStringLiteral("The transcription service is unreachable: ");
    }

    void failures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        Rig rig;
        rig.server.enqueue(FakeReply::text(status, body, "application/json"));
        if (status == 0) // the port of a server that has gone: nothing listens there any more
            rig.engine = std::make_shared<EndpointTranscriptionEngine>(
                EndpointTranscriptionEngine::Config{
                    fakes::FakeHttpServer().url(QStringLiteral("/v1/audio/transcriptions")),
                    QStringLiteral("tiny"), QString()},
                rig.queue);
        rig.start();
        rig.speak(0.5);
        rig.session->endAudio();
        QTRY_COMPARE(rig.pumped().errors.size(), 1);
        // The unreachable one goes on with the network's own words.
        QCOMPARE(status == 0 ? rig.errors.first().left(error.size()) : rig.errors.first(), error);
        QVERIFY(rig.results.isEmpty());
    }

    void silenceAndCancel()
    {
        Rig rig;
        rig.start();
        rig.session->endAudio();
        rig.queue.runUntilIdle();
        QCOMPARE(rig.results, QStringList{QStringLiteral(" (final)")});
        QCOMPARE(rig.server.requestCount(), 0);

        rig.results.clear();
        rig.server.enqueue(transcription(QStringLiteral("x"), true));
        rig.start();
        rig.speak(1.0);
        rig.session->endAudio();
        QVERIFY(rig.server.waitForRequests(1));
        rig.session->cancel();
        rig.server.releaseHeld();
        QTest::qWait(50);
        rig.queue.runUntilIdle();
        QVERIFY(rig.results.isEmpty());
        QVERIFY(rig.errors.isEmpty());
    }

    void engineChoice_data()
    {
        QTest::addColumn<QString>("settings"); // engine|URL|model|stored Groq key, empty when not set
        QTest::addColumn<QString>("expected"); // "offline", "unavailable", or "URL model key"
        QTest::newRow("default is on the device") << QStringLiteral("|||k") << QStringLiteral("offline");
        QTest::newRow("endpoint with a Groq key")
            << QStringLiteral("endpoint|||gk")
            << QStringLiteral(
                   "https://api.groq.com/openai/v1/audio/transcriptions whisper-large-v3-turbo gk");
        QTest::newRow("local server gets no Groq key")
            << QStringLiteral("endpoint|http://127.0.0.1:9000|base.en|gk")
            << QStringLiteral("http://127.0.0.1:9000/v1/audio/transcriptions base.en ");
        QTest::newRow("endpoint with nothing configured")
            << QStringLiteral("endpoint|||") << QStringLiteral("unavailable");
    }

    void engineChoice()
    {
        QFETCH(QString, settings);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("d.conf")));
        const QStringList values = settings.split(u'|');
        const QString keys[] = {SpeechEngineSelector::engineKey, SpeechEngineSelector::urlKey,
                                SpeechEngineSelector::modelKey, SpeechEngineSelector::groqKeyFallbackKey};
        for (int i = 0; i < 4; ++i)
            if (!values[i].isEmpty())
                defaults.setString(keys[i], values[i]);
        VirtualScheduler queue;
        auto offline = std::make_shared<fakes::FakeSpeechEngine>();
        SpeechEngineSelector selector(defaults, queue, [offline] { return offline; });
        const std::shared_ptr<SpeechEngine> chosen = selector.current();
        QVERIFY(chosen);
        QCOMPARE(selector.current(), chosen); // kept while the settings stay
        const auto config = selector.endpointConfig();
        QCOMPARE(
            chosen == offline ? QStringLiteral("offline")
            : !chosen->isAvailable()
                ? QStringLiteral("unavailable")
                : QStringList({config.url.toString(), config.model, config.apiKey}).join(QLatin1Char(' ')),
            expected);
    }

    void keyProviderComesFirst()
    {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("d.conf")));
        defaults.setString(SpeechEngineSelector::groqKeyFallbackKey, QStringLiteral("from-defaults"));
        VirtualScheduler queue;
        std::optional<QString> secret = QStringLiteral("from-keyring");
        SpeechEngineSelector selector(defaults, queue, {}, [&] { return secret; });
        QCOMPARE(selector.endpointConfig().apiKey, QStringLiteral("from-keyring"));
        secret.reset();
        QCOMPARE(selector.endpointConfig().apiKey, QStringLiteral("from-defaults"));
        QVERIFY(!selector.current()); // no offline engine built into this one
    }
};

QTEST_GUILESS_MAIN(TestEndpointTranscription)
#include "tst_endpointtranscription.moc"
