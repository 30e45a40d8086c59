// The whisper engine on generated models of the released shapes (random weights, real sizes and cost):
// load time, the cost of a full pass (the final) and of a partial pass, the real-time factor, the time
// from the end of the audio (the key release) to the final of a 5 s utterance streamed in real time, and
// the process's memory. Each shape runs in a child process of its own, so its peak memory is its own.
//
//   build/bench/bench_whisper                 # tiny.en and base.en
//   build/bench/bench_whisper --shape base.en --threads 2
//
// The generated models say one word per pass; real speech adds roughly 3-19 ms per word-piece (about
// three a second of speech) to each pass.
#include "platform/linux/WhisperEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>

using namespace quenda;

namespace {

AudioBuffer tone(double seconds)
{
    AudioBuffer buffer;
    buffer.sampleRate = WhisperEngine::sampleRate;
    const int count = int(seconds * buffer.sampleRate);
    buffer.data.resize(count * 2);
    auto* samples = reinterpret_cast<qint16*>(buffer.data.data());
    for (int i = 0; i < count; ++i)
        samples[i] = qint16(6000 * std::sin(i * 0.07) + (i * 7919 % 400) - 200);
    return buffer;
}

long memoryKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLong();
    }
    return 0;
}

// Processor time of the whole process, in seconds: unlike the wall clock, it does not grow when other
// programs share the cores.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// When the last audio ended, and how long each final then waited for its pass and took, on one clock.
QElapsedTimer benchClock;
std::atomic<qint64> audioEndedNsec{0};
std::mutex finalsMutex;
QList<double> finalWaits, finalPasses;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

// The medians of the finals' waits and passes since the last call.
std::pair<double, double> takeFinals()
{
    std::lock_guard lock(finalsMutex);
    const std::pair<double, double> medians{median(finalWaits), median(finalPasses)};
    finalWaits.clear();
    finalPasses.clear();
    return medians;
}

struct Final {
    std::mutex mutex;
    std::condition_variable arrived;
    bool done = false;
};

// One dictation: the audio appended in 100 ms buffers (in real time when `live`), then its end; returns
// the seconds from the end of the audio to the final.
double dictate(WhisperEngine& engine, double seconds, bool live)
{
    Final final;
    auto session = engine.startSession({[&](const QString&, bool isFinal) {
                                            if (!isFinal)
                                                return;
                                            std::lock_guard lock(final.mutex);
                                            final.done = true;
                                            final.arrived.notify_all();
                                        },
                                        {}});
    const AudioBuffer audio = tone(seconds);
    const qsizetype chunk = WhisperEngine::sampleRate / 10 * 2;
    for (qsizetype at = 0; at < audio.data.size(); at += chunk) {
        AudioBuffer piece = audio;
        piece.data = audio.data.mid(at, chunk);
        session->append(piece);
        if (live)
            QThread::msleep(100);
    }
    QElapsedTimer timer;
    timer.start();
    audioEndedNsec = benchClock.nsecsElapsed();
    session->endAudio();
    std::unique_lock lock(final.mutex);
    final.arrived.wait(lock, [&] { return final.done; });
    return timer.nsecsElapsed() / 1e9;
}

int runShape(const QString& shape, int threads)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ggml-%1.bin").arg(shape));
    if (QProcess::execute(QStringLiteral("python3"),
                          {QStringLiteral(QUENDA_MODEL_SCRIPT), QStringLiteral("--shape"), shape,
                           QStringLiteral("--out"), path}) != 0) {
        std::fprintf(stderr, "cannot generate the %s model\n", qPrintable(shape));
        return 1;
    }
    std::mutex passMutex;
    QList<double> partialPasses;
    WhisperEngine::Options options;
    options.modelPath = path;
    options.threads = threads;
    options.onPassStarted = [](bool isFinal) {
        std::lock_guard lock(finalsMutex);
        if (isFinal)
            finalWaits << (benchClock.nsecsElapsed() - audioEndedNsec) / 1e9;
    };
    options.onPassEnded = [&](bool isFinal, bool completed, double seconds) {
        std::lock_guard lock(passMutex);
        if (!isFinal && completed)
            partialPasses << seconds;
        std::lock_guard finals(finalsMutex);
        if (isFinal && completed)
            finalPasses << seconds;
    };
    QElapsedTimer timer;
    timer.start();
    // Shared, as the application holds it: its sessions reach the engine through a weak reference.
    const auto shared = std::make_shared<WhisperEngine>(options);
    WhisperEngine& engine = *shared;
    if (!engine.waitUntilLoaded()) {
        std::fprintf(stderr, "%s\n", qPrintable(engine.unavailableReason()));
        return 1;
    }
    const double load = timer.nsecsElapsed() / 1e9;
    const long afterLoad = memoryKb("VmRSS:");

    // Offline passes: the audio all there at once, the final alone.
    for (double seconds : {2.0, 5.0, 10.0}) {
        double best = 1e9;
        double bestCpu = 1e9;
        takeFinals();
        for (int run = 0; run < 3; ++run) {
            const double cpuBefore = cpuSeconds();
            best = std::min(best, dictate(engine, seconds, false));
            bestCpu = std::min(bestCpu, cpuSeconds() - cpuBefore);
        }
        const auto [wait, pass] = takeFinals();
        std::printf("%-8s final pass over %4.1f s: %.3f s  (real-time factor %.3f); processor time %.3f s; "
                    "the pass began %.3f s after the end and took %.3f s\n",
                    qPrintable(shape), seconds, best, best / seconds, bestCpu, wait, pass);
    }
    takeFinals();
    // A live dictation: partials about once a second while the user speaks, then the key is released.
    QList<double> releases;
    for (int run = 0; run < 3; ++run)
        releases << dictate(engine, 5.0, true);
    std::sort(releases.begin(), releases.end());
    const auto [liveWait, livePass] = takeFinals();
    double partialMean = 0;
    {
        std::lock_guard lock(passMutex);
        for (double p : partialPasses)
            partialMean += p / double(partialPasses.size());
    }
    std::printf("%-8s 5 s dictation, key release -> final: median %.3f s (min %.3f, max %.3f); "
                "%lld partial passes, %.3f s each on average\n",
                qPrintable(shape), releases.at(1), releases.first(), releases.last(),
                static_cast<long long>(partialPasses.size()), partialMean);
    std::printf("%-8s   of which waiting for the final pass %.3f s, the pass %.3f s (medians)\n",
                qPrintable(shape), liveWait, livePass);
    std::printf("%-8s load + warm-up %.2f s; memory after load %.0f MB, peak %.0f MB; %d threads\n",
                qPrintable(shape), load, afterLoad / 1024.0, memoryKb("VmHWM:") / 1024.0, threads);

    // Idle for a while, the application lets the model go; the next dictation loads it again.
    engine.releaseModel();
    while (engine.isModelLoaded())
        QThread::msleep(10);
    const long released = memoryKb("VmRSS:");
    const double afterRelease = dictate(engine, 5.0, false);
    std::printf("%-8s memory with the model released %.0f MB; the next 5 s dictation's final %.3f s after "
                "the end (the load included)\n",
                qPrintable(shape), released / 1024.0, afterRelease);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchClock.start();
    const QStringList args = app.arguments();
    const int threadsAt = int(args.indexOf(QStringLiteral("--threads")));
    const int threads = threadsAt > 0 ? args.value(threadsAt + 1).toInt() : 2;
    const int shapeAt = int(args.indexOf(QStringLiteral("--shape")));
    if (shapeAt > 0)
        return runShape(args.value(shapeAt + 1), threads);
    if (!WhisperEngine::processorSupported()) {
        std::printf("this processor cannot run the whisper kernels (needs x86-64-v3)\n");
        return 1;
    }
    int status = 0;
    for (const QString& shape : {QStringLiteral("tiny.en"), QStringLiteral("base.en")}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(app.applicationFilePath(), {QStringLiteral("--shape"), shape, QStringLiteral("--threads"),
                                                QString::number(threads)});
        child.waitForFinished(-1);
        status |= child.exitCode();
    }
    return status;
}
