// PocketSphinx real-time factor on one core: decoding time divided by audio duration, over Debian's
// librivox test recordings fed through the engine as the microphone would feed it.
#include "capture/WavFile.h"
#include "platform/linux/PocketSphinxEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <sched.h>
#include <time.h>

#include <cstdio>
#include <future>

using namespace quenda;

namespace {

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one); // every thread of the process on one core

    const QDir data(QStringLiteral("/usr/share/pocketsphinx/test/data/librivox"));
    const QStringList files = data.entryList({QStringLiteral("*.wav")}, QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        std::fprintf(stderr, "no recordings in %s (install pocketsphinx-testdata)\n",
                     qPrintable(data.path()));
        return 1;
    }
    QElapsedTimer loading;
    loading.start();
    auto engine = std::make_shared<PocketSphinxEngine>();
    if (!engine->waitUntilLoaded()) {
        std::fprintf(stderr, "the PocketSphinx model did not load\n");
        return 1;
    }
    std::printf("model load: %lld ms\n", static_cast<long long>(loading.elapsed()));

    double totalAudio = 0;
    double totalCpu = 0;
    double totalWall = 0;
    for (const QString& name : files) {
        QString error;
        const std::optional<AudioBuffer> audio = WavFile::read(data.filePath(name), &error);
        if (!audio) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(error));
            return 1;
        }
        std::promise<QString> final;
        auto session = engine->startSession({[&final](const QString& text, bool isFinal) {
                                                 if (isFinal)
                                                     final.set_value(text);
                                             },
                                             {}});
        const double cpuStart = processCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        const qsizetype chunk = 1024 * 2;
        for (qsizetype at = 0; at < audio->data.size(); at += chunk) {
            AudioBuffer buffer = *audio;
            buffer.data = audio->data.mid(at, chunk);
            session->append(buffer);
        }
        session->endAudio();
        // A new segment would need a new session; feeding one session to the end decodes every word.
        const QString text = final.get_future().get();
        const double cpu = processCpuSeconds() - cpuStart;
        const double seconds = double(audio->frameCount()) / audio->sampleRate;
        totalAudio += seconds;
        totalCpu += cpu;
        totalWall += double(wall.nsecsElapsed()) / 1e9;
        std::printf("%-45s %5.2f s audio, %5.3f s CPU, RTF %.3f\n", qPrintable(name), seconds, cpu,
                    cpu / seconds);
    }
    std::printf(
        "real-time factor on one core: %.3f (CPU), %.3f (wall), over %.1f s of speech (goal <= 0.2)\n",
        totalCpu / totalAudio, totalWall / totalAudio, totalAudio);
    return 0;
}
