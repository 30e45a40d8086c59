#include "app/cli/CaptureCommands.h"

#include "app/AppServices.h"
#include "app/InterruptWatcher.h"
#include "app/cli/CommandLine.h"
#include "base/Scheduler.h"
#include "capture/AudioCaptureManager.h"
#include "capture/SpeechEngineSelector.h"
#include "capture/SpeechRecognizer.h"
#include "capture/WavFile.h"
#include "platform/linux/PulseAudioInput.h"
#ifdef QUENDA_WHISPER
#include "platform/linux/WhisperEngine.h"
#endif

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

namespace quenda {

namespace {

// Runs one recognition and prints what it hears; the event loop ends with the final result or an error.
class TranscriptPrinter {
public:
    explicit TranscriptPrinter(CommandLine& commandLine)
        : m_commandLine(commandLine)
        , m_mainQueue(commandLine.services().mainQueue())
        , m_recognizer(m_mainQueue,
                       [engines = &commandLine.services().speechEngines()] { return engines->current(); })
    {
        m_recognizer.setOnResult(
            [this](const DictationResult& result) { m_mainQueue.post([this, result] { show(result); }); });
        m_recognizer.setOnError([this](const QString& error) {
            m_mainQueue.post([this, error] {
                m_error = error;
                m_loop.quit();
            });
        });
    }

    SpeechRecognizer& recognizer() { return m_recognizer; }

    // A command has time to let the chosen engine load, so that a model that turns out unusable makes way
    // for the fallback before the first word.
    void prepareEngine()
    {
#ifdef QUENDA_WHISPER
        if (auto whisper =
                std::dynamic_pointer_cast<WhisperEngine>(m_commandLine.services().speechEngines().current()))
            whisper->waitUntilLoaded();
#endif
    }

    // Waits for the final result after the audio has ended; `allowance` is how long the engine may take.
    int finish(double allowance)
    {
        m_recognizer.setCleanupDelay(allowance);
        m_recognizer.stopRecognition();
        QTimer::singleShot(int(allowance * 1000) + 100, &m_loop, &QEventLoop::quit);
        if (!m_final && !m_error)
            m_loop.exec();
        if (m_error)
            return m_commandLine.failure(*m_error);
        if (!m_final)
            return m_commandLine.failure(QStringLiteral("the speech engine gave no final result"));
        m_commandLine.out() << *m_final << '\n';
        m_commandLine.out().flush();
        return 0;
    }
    void quit()
    {
        m_loop.quit();
    }
    QEventLoop& loop()
    {
        return m_loop;
    }
    bool failed() const
    {
        return m_error.has_value();
    }

private:
    void show(const DictationResult& result)
    {
        if (result.isFinal) {
            m_final = result.text;
            m_loop.quit();
            return;
        }
        if (result.text.isEmpty() || result.text == m_lastPartial)
            return;
        m_lastPartial = result.text;
        m_commandLine.out() << QStringLiteral("… ") << result.text << '\n';
        m_commandLine.out().flush();
    }

    CommandLine& m_commandLine;
    Scheduler& m_mainQueue;
    SpeechRecognizer m_recognizer;
    QEventLoop m_loop;
    QString m_lastPartial;
    std::optional<QString> m_final;
    std::optional<QString> m_error;
};

int transcribe(CommandLine& commandLine, const QStringList& args)
{
    if (args.size() != 1)
        return commandLine.usageError(QStringLiteral("transcribe takes one FILE.wav"));
    QString why;
    const std::optional<AudioBuffer> audio = WavFile::read(args.first(), &why);
    if (!audio)
        return commandLine.failure(QStringLiteral("cannot read %1: %2").arg(args.first(), why));
    TranscriptPrinter printer(commandLine);
    printer.prepareEngine();
    if (const auto error = printer.recognizer().startRecognition())
        return commandLine.failure(*error);
    // Fed in capture-sized buffers, as the microphone would deliver it, but as fast as the engine takes it.
    const qsizetype chunk =
        qsizetype(AudioCaptureManager::framesPerBuffer) * audio->channelCount * audio->bytesPerSample();
    for (qsizetype at = 0; at < audio->data.size(); at += chunk) {
        AudioBuffer buffer = *audio;
        buffer.data = audio->data.mid(at, chunk);
        printer.recognizer().appendAudio(buffer);
    }
    const double seconds = double(audio->frameCount()) / audio->sampleRate;
    return printer.finish(30 + seconds);
}

int listen(CommandLine& commandLine, const QStringList& args)
{
    Scheduler& mainQueue = commandLine.services().mainQueue();
    std::optional<double> limit;
    if (args.size() == 2 && args.first() == QLatin1String("--seconds")) {
        bool ok = false;
        limit = args.at(1).toDouble(&ok);
        if (!ok || *limit <= 0)
            return commandLine.usageError(QStringLiteral("--seconds takes a positive number"));
    } else if (!args.isEmpty()) {
        return commandLine.usageError(QStringLiteral("listen takes no arguments besides --seconds N"));
    }

    // The microphone alone: listening needs no display.
    PulseAudioInput input;
    AudioCaptureManager audio(input, mainQueue);
    TranscriptPrinter printer(commandLine);
    printer.prepareEngine();
    if (const auto error = printer.recognizer().startRecognition())
        return commandLine.failure(*error);
    audio.setBufferHandler(
        [&printer](const AudioBuffer& buffer) { printer.recognizer().appendAudio(buffer); });
    std::optional<QString> startError;
    audio.startRecording([&](std::optional<QString> error) {
        mainQueue.post([&, error] {
            if (error) {
                startError = error;
                printer.quit();
            }
        });
    });

    // Enter, Ctrl+C or the time limit ends the recording.
    {
        InterruptWatcher interrupt;
        if (!interrupt.isWatching())
            return commandLine.failure(QStringLiteral("cannot watch for Ctrl+C"));
        QObject::connect(&interrupt, &InterruptWatcher::interrupted, &printer.loop(), &QEventLoop::quit);
        QSocketNotifier enter(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(&enter, &QSocketNotifier::activated, &printer.loop(), [&] {
            char buffer[256];
            if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
                enter.setEnabled(false); // no terminal: Ctrl+C or the time limit ends it
            else
                printer.quit();
        });
        if (limit)
            QTimer::singleShot(int(*limit * 1000), &printer.loop(), &QEventLoop::quit);
        commandLine.err() << "Listening… press Enter or Ctrl+C to stop.\n";
        commandLine.err().flush();
        printer.loop().exec();
    }

    audio.stopRecording();
    if (startError)
        return commandLine.failure(QStringLiteral("the microphone did not start: %1").arg(*startError));
    if (printer.failed())
        return printer.finish(0);
    return printer.finish(30);
}

} // namespace

void addCaptureCommands(CommandLine& commandLine)
{
    commandLine.addCommand(
        QStringLiteral("transcribe"),
        QStringLiteral(
            "  transcribe FILE.wav                 run the configured speech engine on a recording\n"),
        [&commandLine](const QStringList& args) { return transcribe(commandLine, args); });
    commandLine.addCommand(
        QStringLiteral("listen"),
        QStringLiteral(
            "  listen [--seconds N]                transcribe the microphone until Enter or Ctrl+C\n"),
        [&commandLine](const QStringList& args) { return listen(commandLine, args); });
}

} // namespace quenda
