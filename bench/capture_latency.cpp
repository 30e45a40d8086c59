// Latencies of the capture path in a real session (run it inside scripts/session.sh):
// - hotkey press (an XTEST key event) -> onRecordingStart on the main queue   (goal <= 5 ms)
// - hotkey press -> first audio buffer from the microphone                  (goal <= 50 ms)
// - hotkey release -> final PocketSphinx result, after speech was played into the microphone
#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "capture/AudioCaptureManager.h"
#include "capture/HotkeyManager.h"
#include "capture/SpeechRecognizer.h"
#include "platform/linux/PocketSphinxEngine.h"
#include "platform/linux/PulseAudioInput.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11HotkeySource.h"
#include "platform/linux/X11KeyCodes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

using namespace quenda;

namespace {

QElapsedTimer clock_;

qint64 nowNs()
{
    return clock_.nsecsElapsed();
}

void waitFor(const std::function<bool()>& done, int timeoutMsec)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMsec)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void print(const char* what, QList<double> msec, const char* goal)
{
    if (msec.isEmpty()) {
        std::printf("%-40s no samples\n", what);
        return;
    }
    std::sort(msec.begin(), msec.end());
    std::printf("%-40s min %7.2f  median %7.2f  max %7.2f ms over %lld  (%s)\n", what, msec.first(),
                msec.at(msec.size() / 2), msec.last(), static_cast<long long>(msec.size()), goal);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    clock_.start();
    X11Connection keyboard;
    if (!keyboard.isOpen()) {
        std::fprintf(stderr, "no X display: run inside scripts/session.sh run\n");
        return 1;
    }
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.conf")));
    QtScheduler queue;
    X11HotkeySource source;
    HotkeyManager hotkey(source, queue, defaults);
    PulseAudioInput input;
    AudioCaptureManager audio(input, queue);
    auto engine = std::make_shared<PocketSphinxEngine>();
    engine->waitUntilLoaded();
    SpeechRecognizer recognizer(queue, [engine] { return engine; });

    std::atomic<qint64> firstBufferNs{0};
    qint64 startNs = 0;
    qint64 finalNs = 0;
    QString finalText;
    audio.setBufferHandler([&](const AudioBuffer& buffer) {
        qint64 none = 0;
        firstBufferNs.compare_exchange_strong(none, nowNs());
        recognizer.appendAudio(buffer);
    });
    recognizer.setOnResult([&](const DictationResult& result) {
        if (result.isFinal)
            queue.post([&, text = result.text] {
                finalNs = nowNs();
                finalText = text;
            });
    });
    // What the orchestrator does with the two callbacks, minus the user interface.
    hotkey.setOnRecordingStart([&] {
        startNs = nowNs();
        recognizer.startRecognition();
        audio.startRecording({});
    });
    hotkey.setOnRecordingStop([&] {
        audio.stopRecording();
        recognizer.stopRecognition();
    });
    hotkey.startListening();
    if (!hotkey.isUsingActiveGrab()) {
        std::fprintf(stderr, "could not grab %s\n", qPrintable(hotkey.displayString()));
        return 1;
    }
    auto key = [&](bool press) {
        XTestFakeKeyEvent(keyboard.display(), X11KeyCodes::rightControl, press ? True : False, CurrentTime);
        XFlush(keyboard.display());
        return nowNs();
    };

    QList<double> toCallback;
    QList<double> toBuffer;
    for (int round = 0; round < 20; ++round) {
        firstBufferNs = 0;
        startNs = 0;
        finalNs = 0;
        const qint64 pressed = key(true);
        waitFor([&] { return firstBufferNs != 0 && startNs != 0; }, 3000);
        if (startNs)
            toCallback << double(startNs - pressed) / 1e6;
        if (firstBufferNs)
            toBuffer << double(firstBufferNs - pressed) / 1e6;
        key(false);
        waitFor([&] { return finalNs != 0; }, 3000);
    }
    print("press -> onRecordingStart", toCallback, "goal <= 5 ms");
    print("press -> first audio buffer", toBuffer, "goal <= 50 ms");

    const QDir data(QStringLiteral("/usr/share/pocketsphinx/test/data/librivox"));
    QList<double> toFinal;
    for (const QString& name : data.entryList({QStringLiteral("*.wav")}, QDir::Files, QDir::Name)) {
        finalNs = 0;
        key(true);
        waitFor([&] { return firstBufferNs != 0; }, 3000);
        QProcess player;
        player.start(QStringLiteral("paplay"), {data.filePath(name)});
        player.waitForStarted();
        waitFor([&] { return player.state() == QProcess::NotRunning; }, 30000);
        waitFor([] { return false; }, 300); // the tail of the speech still in the sound server
        const qint64 released = key(false);
        waitFor([&] { return finalNs != 0; }, 10000);
        if (finalNs) {
            toFinal << double(finalNs - released) / 1e6;
            std::printf("  %s: \"%s\"\n", qPrintable(name), qPrintable(finalText));
        }
    }
    print("release -> final result (PocketSphinx)", toFinal, "after speech of 3-7 s");
    return 0;
}
