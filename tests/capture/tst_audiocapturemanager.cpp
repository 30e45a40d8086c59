#include "base/VirtualScheduler.h"
#include "capture/AudioCaptureManager.h"
#include "fakes/FakeAudioInput.h"
#include "fakes/LogCapture.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace quenda;

namespace {

// Int16 samples at 16 kHz, or Float32 ones at 48 kHz.
template <typename Sample>
AudioBuffer buffer(const QList<Sample>& samples, int channels = 1)
{
    AudioBuffer result;
    if constexpr (std::is_same_v<Sample, float>)
        result.format = AudioBuffer::SampleFormat::Float32;
    result.sampleRate = std::is_same_v<Sample, float> ? 48000 : 16000;
    result.channelCount = channels;
    result.data =
        QByteArray(reinterpret_cast<const char*>(samples.constData()), samples.size() * sizeof(Sample));
    return result;
}

} // namespace

class TestAudioCaptureManager : public QObject {
    Q_OBJECT

    struct Rig {
        fakes::FakeAudioInput input;
        VirtualScheduler queue;
        QList<std::function<void()>> heldWork; // device work waiting for its thread
        AudioCaptureManager manager{input, queue, [this](std::function<void()> work) { heldWork << work; }};
        QList<std::optional<QString>> completions;
        QList<float> levels;
        qsizetype framesHandled = 0;

        Rig()
        {
            manager.setLevelHandler([this](float level) { levels << level; });
            manager.setBufferHandler(
                [this](const AudioBuffer& buffer) { framesHandled += buffer.frameCount(); });
        }
        void start()
        {
            manager.startRecording([this](std::optional<QString> error) { completions << error; });
        }
        void runWork()
        {
            while (!heldWork.isEmpty())
                heldWork.takeFirst()();
            queue.runUntilIdle();
        }
    };

private Q_SLOTS:
    void level_data()
    {
        QTest::addColumn<AudioBuffer>("buffer");
        QTest::addColumn<float>("expected");

        QTest::newRow("silence") << buffer(QList<qint16>(1024, 0)) << 0.0f;
        QList<qint16> square;
        for (int i = 0; i < 1024; ++i)
            square << (i % 2 ? qint16(-32768) : qint16(32767));
        QTest::newRow("full-scale square clamps") << buffer(square) << 1.0f;
        QTest::newRow("stereo: first channel only")
            << buffer<float>({0.1f, 1.0f, -0.1f, -1.0f, 0.1f, 1.0f, -0.1f, -1.0f}, 2) << 0.5f;
        QTest::newRow("not a number reads as loud")
            << buffer<float>({std::numeric_limits<float>::quiet_NaN(), 0.0f}) << 1.0f;
        QTest::newRow("empty buffer") << buffer(QList<qint16>()) << 0.0f;
    }

    void level()
    {
        QFETCH(AudioBuffer, buffer);
        QFETCH(float, expected);
        QVERIFY2(std::abs(AudioCaptureManager::level(buffer) - expected) < 1e-4,
                 qPrintable(QString::number(AudioCaptureManager::level(buffer))));
    }

    void startDeliversBuffersAndLevels()
    {
        fakes::LogCapture log;
        Rig rig;
        rig.input.format = {48000, 1, AudioBuffer::SampleFormat::Float32};
        rig.start();
        QVERIFY(rig.manager.isStarting());
        rig.start(); // a second start while the first is under way does nothing
        QCOMPARE(rig.heldWork.size(), 1);
        rig.runWork();
        QVERIFY(rig.manager.isRecording());
        QVERIFY(!rig.manager.isStarting());
        QCOMPARE(rig.completions, (QList<std::optional<QString>>{std::nullopt}));
        QCOMPARE(log.lines(), QStringList{QStringLiteral("[Audio] Installing tap: 48000.0Hz, 1ch")});
        QCOMPARE(rig.input.calls.last(), QStringLiteral("start 48000 1024"));

        rig.start(); // already recording
        QVERIFY(rig.heldWork.isEmpty());

        rig.input.capture(buffer<float>(QList<float>(1024, 0.1f)));
        QCOMPARE(rig.framesHandled, 1024);
        QVERIFY(rig.levels.isEmpty()); // the level waits for the main queue
        rig.queue.runUntilIdle();
        QCOMPARE(rig.levels.size(), 1);
        QVERIFY(std::abs(rig.levels.first() - 0.5f) < 1e-4);

        rig.manager.stopRecording();
        QVERIFY(!rig.manager.isRecording());
        QVERIFY(!rig.input.running());
        QCOMPARE(rig.manager.audioLevel(), 0.0f);
        QCOMPARE(rig.levels.last(), 0.0f);
    }

    void failedStartsClearTheGuard()
    {
        Rig rig;
        rig.input.format = {};
        for (const QString& error :
             {QStringLiteral("No audio input device available"), QStringLiteral("Connection refused")}) {
            rig.start();
            rig.runWork();
            QCOMPARE(rig.completions.last(), std::optional<QString>(error));
            QVERIFY(!rig.manager.isStarting() && !rig.manager.isRecording());
            rig.input.format = {16000, 1, AudioBuffer::SampleFormat::Int16};
            rig.input.startError = QStringLiteral("Connection refused");
        }
        rig.input.startError.reset();
        rig.start();
        rig.runWork();
        QVERIFY(rig.manager.isRecording());
    }

    void stopWhileStartingLeavesTheDeviceClosed()
    {
        Rig rig;
        rig.start();
        rig.manager.stopRecording();
        rig.runWork();
        QVERIFY(!rig.input.running());
        QVERIFY(!rig.manager.isRecording());
        QCOMPARE(rig.completions, (QList<std::optional<QString>>{std::nullopt}));
        // And the next dictation starts normally.
        rig.start();
        rig.runWork();
        QVERIFY(rig.manager.isRecording());
        QVERIFY(rig.input.running());
    }
};

QTEST_GUILESS_MAIN(TestAudioCaptureManager)
#include "tst_audiocapturemanager.moc"
