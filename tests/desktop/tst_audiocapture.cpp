#include "base/QtScheduler.h"
#include "capture/AudioCaptureManager.h"
#include "platform/linux/LinuxMicrophoneAuthorization.h"
#include "platform/linux/PulseAudioInput.h"

#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QTest>
#include <QThread>

using namespace quenda;

namespace {

// What the capture thread delivered, read on the main thread.
struct Delivered {
    QMutex mutex;
    QList<qsizetype> frameCounts;
    QSet<QThread*> threads;
    int sampleRate = 0;
    int channels = 0;

    void add(const AudioBuffer& buffer)
    {
        QMutexLocker locker(&mutex);
        frameCounts << buffer.frameCount();
        threads << QThread::currentThread();
        sampleRate = buffer.sampleRate;
        channels = buffer.channelCount;
    }
    qsizetype count()
    {
        QMutexLocker locker(&mutex);
        return frameCounts.size();
    }
};

// Starts recording and waits for the outcome: nothing, or what went wrong.
std::optional<QString> record(AudioCaptureManager& manager)
{
    std::optional<std::optional<QString>> outcome;
    manager.startRecording([&](std::optional<QString> error) { outcome = error; });
    return QTest::qWaitFor([&] { return outcome.has_value(); }, 10000) ? *outcome
                                                                       : QStringLiteral("no answer");
}

} // namespace

class TestAudioCapture : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void buffersAndLevelFromTheMicrophone()
    {
        QtScheduler queue;
        PulseAudioInput input;
        AudioCaptureManager manager(input, queue);
        Delivered delivered;
        QList<float> levels;
        manager.setBufferHandler([&](const AudioBuffer& buffer) { delivered.add(buffer); });
        manager.setLevelHandler([&](float level) { levels << level; });

        QCOMPARE(record(manager), std::nullopt);
        QVERIFY(manager.isRecording());

        // The speaker plays nothing but digital silence: the level is exactly zero.
        QTRY_VERIFY(delivered.count() >= 10);
        QCOMPARE(delivered.sampleRate, 16000);
        QCOMPARE(delivered.channels, 1);
        QVERIFY(!delivered.threads.contains(QThread::currentThread()));
        QTRY_VERIFY(levels.size() >= 10);
        for (float level : std::as_const(levels))
            QCOMPARE(level, 0.0f);
        {
            QMutexLocker locker(&delivered.mutex);
            // A short first buffer gets the audio going; whole buffers of 1024 frames follow.
            QVERIFY(delivered.frameCounts.first() >= 128 && delivered.frameCounts.first() <= 1024);
            for (qsizetype frames : delivered.frameCounts.mid(1))
                QCOMPARE(frames, 1024);
        }

        manager.stopRecording();
        QVERIFY(!manager.isRecording());
        QCOMPARE(manager.audioLevel(), 0.0f);
        const qsizetype afterStop = delivered.count();
        QTest::qWait(200);
        QCOMPARE(delivered.count(), afterStop);
    }

    void recordsAgainAfterTheSoundServerRestarts()
    {
        QtScheduler queue;
        PulseAudioInput input;
        AudioCaptureManager manager(input, queue);
        Delivered delivered;
        manager.setBufferHandler([&](const AudioBuffer& buffer) { delivered.add(buffer); });
        QCOMPARE(record(manager), std::nullopt);
        manager.stopRecording();

        // The session's own sound server, found by its configuration file, goes away...
        const QString config = qEnvironmentVariable("QUENDA_SESSION_DIR") + QStringLiteral("/default.pa");
        QProcess find;
        find.start(QStringLiteral("pgrep"), {QStringLiteral("-f"), config});
        QVERIFY(find.waitForFinished());
        const qint64 pid = find.readAllStandardOutput().trimmed().toLongLong();
        QVERIFY(pid > 0);
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        QVERIFY(cmdline.open(QIODevice::ReadOnly));
        QList<QByteArray> command = cmdline.readAll().split('\0');
        command.removeAll(QByteArray());
        QCOMPARE(QProcess::execute(QStringLiteral("kill"), {QString::number(pid)}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(QProcess::execute(QStringLiteral("pactl"), {QStringLiteral("info")}) != 0,
                                 10000);
        QVERIFY(record(manager).has_value()); // a press meanwhile fails cleanly

        // ... and comes back: the next press records again.
        QStringList arguments;
        for (const QByteArray& part : command.mid(1))
            arguments << QString::fromLocal8Bit(part);
        QVERIFY(QProcess::startDetached(QString::fromLocal8Bit(command.first()), arguments));
        QTRY_VERIFY_WITH_TIMEOUT(QProcess::execute(QStringLiteral("pactl"), {QStringLiteral("info")}) == 0,
                                 10000);
        const qsizetype before = delivered.count();
        QCOMPARE(record(manager), std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(delivered.count() >= before + 5, 10000);
        manager.stopRecording();
    }

    // Last: it takes the session's microphone away.
    void noInputDevice()
    {
        QCOMPARE(QProcess::execute(QStringLiteral("pactl"),
                                   {QStringLiteral("unload-module"), QStringLiteral("module-remap-source")}),
                 0);
        // The monitor of the speaker is all that is left, and it is no microphone.
        QtScheduler queue;
        PulseAudioInput input;
        QTRY_COMPARE(input.inputFormat().sampleRate, 0);
        AudioCaptureManager manager(input, queue);
        QCOMPARE(record(manager), std::optional<QString>(QStringLiteral("No audio input device available")));
        QVERIFY(!manager.isRecording());

        // No device is not a refused permission: the dictation says "Mic unavailable", not "access required".
        LinuxMicrophoneAuthorization authorization(input);
        QVERIFY(authorization.isAuthorized());
    }
};

QTEST_GUILESS_MAIN(TestAudioCapture)
#include "tst_audiocapture.moc"
