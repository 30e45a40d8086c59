#include "platform/linux/PocketSphinxEngine.h"

#include "base/Log.h"
#include "capture/AudioConversion.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>

namespace quenda {

struct PocketSphinxEngine::Decoder {
    cmd_ln_t* config = nullptr;
    ps_decoder_t* decoder = nullptr;
    ~Decoder()
    {
        if (decoder)
            ps_free(decoder);
        if (config)
            cmd_ln_free_r(config);
    }
};

struct PocketSphinxEngine::Command {
    enum class Kind { Start, Audio, End, Load, Release };
    Kind kind;
    quint64 session;
    QByteArray samples; // 16 kHz mono 16-bit
    SpeechSession::Callbacks callbacks;
    std::shared_ptr<std::atomic_bool> cancelled;
};

// The utterance the decoder is working on.
struct PocketSphinxEngine::Utterance {
    quint64 session = 0;
    // After a segment ended, the decoder goes on with the audio already queued for the old session, and
    // the session the recogniser starts next takes the utterance over, so no word between is lost.
    bool awaitingSuccessor = false;
    quint64 predecessor = 0;
    bool active = false;
    bool heardSpeech = false;
    qsizetype samplesSinceHypothesis = 0;
    QString lastHypothesis;
    SpeechSession::Callbacks callbacks;
    std::shared_ptr<std::atomic_bool> cancelled;
};

class PocketSphinxSession final : public SpeechSession {
public:
    PocketSphinxSession(std::weak_ptr<PocketSphinxEngine> engine, quint64 id,
                        std::shared_ptr<std::atomic_bool> cancelled)
        : m_engine(std::move(engine))
        , m_id(id)
        , m_cancelled(std::move(cancelled))
    {}

    void append(const AudioBuffer& buffer) override
    {
        if (*m_cancelled || m_ended)
            return;
        QByteArray mono = AudioConversion::toMonoInt16(buffer);
        if (m_inputRate == 0)
            m_inputRate = buffer.sampleRate;
        if (buffer.sampleRate != PocketSphinxEngine::sampleRate)
            mono = AudioConversion::resampleMonoInt16(mono, buffer.sampleRate, PocketSphinxEngine::sampleRate,
                                                      m_position, m_last);
        if (auto engine = m_engine.lock())
            engine->enqueue(
                {PocketSphinxEngine::Command::Kind::Audio, m_id, std::move(mono), {}, m_cancelled});
    }
    void endAudio() override
    {
        if (m_ended.exchange(true))
            return;
        if (auto engine = m_engine.lock())
            engine->enqueue({PocketSphinxEngine::Command::Kind::End, m_id, {}, {}, m_cancelled});
    }
    void cancel() override { *m_cancelled = true; }

private:
    std::weak_ptr<PocketSphinxEngine> m_engine;
    quint64 m_id;
    std::shared_ptr<std::atomic_bool> m_cancelled;
    std::atomic_bool m_ended{false};
    // Resampler state; only the audio thread appends.
    int m_inputRate = 0;
    double m_position = 0;
    qint16 m_last = 0;
};

QString PocketSphinxEngine::defaultModelDirectory()
{
    return QStringLiteral("/usr/share/pocketsphinx/model/en-us");
}

bool PocketSphinxEngine::isModelInstalled(const QString& modelDirectory)
{
    const QDir dir(modelDirectory);
    return QFileInfo(dir.filePath(QStringLiteral("en-us/mdef"))).isFile() &&
           QFileInfo(dir.filePath(QStringLiteral("en-us.lm.bin"))).isFile() &&
           QFileInfo(dir.filePath(QStringLiteral("cmudict-en-us.dict"))).isFile();
}

PocketSphinxEngine::PocketSphinxEngine(QString modelDirectory)
    : m_modelDirectory(std::move(modelDirectory))
{
    m_modelPresent = isModelInstalled(m_modelDirectory);
    if (!m_modelPresent) {
        m_loadState = failed;
        return;
    }
    m_thread = std::thread([this] { run(); });
}

PocketSphinxEngine::~PocketSphinxEngine()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool PocketSphinxEngine::isAvailable() const
{
    return m_modelPresent && m_loadState != failed;
}

namespace {
qint64 steadyMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

double PocketSphinxEngine::finalAllowance() const
{
    const double queuedSeconds = double(m_queuedSamples) / sampleRate;
    const double decode = queuedSeconds * double(m_decodeMicrosPerSecond) / 1e6;
    // A session that started on a released model waits for it to load before its audio is decoded.
    qint64 loadLeft = 0;
    if (m_loadState == notLoaded)
        loadLeft = m_loadMicros;
    else if (m_loadState == loading)
        loadLeft = std::max<qint64>(0, m_loadMicros - (steadyMicros() - m_loadStartedMicros));
    return 1.5 * (decode + double(m_endMicros + loadLeft) / 1e6);
}

bool PocketSphinxEngine::waitUntilLoaded()
{
    if (!m_modelPresent)
        return false;
    enqueue({Command::Kind::Load, 0, {}, {}, {}});
    std::unique_lock lock(m_mutex);
    m_loaded.wait(lock, [this] { return m_loadState == loaded || m_loadState == failed; });
    return m_loadState == loaded;
}

void PocketSphinxEngine::releaseModel()
{
    if (m_modelPresent)
        enqueue({Command::Kind::Release, 0, {}, {}, {}});
}

std::shared_ptr<SpeechSession> PocketSphinxEngine::startSession(SpeechSession::Callbacks callbacks)
{
    const quint64 id = ++m_nextSession;
    auto cancelled = std::make_shared<std::atomic_bool>(false);
    enqueue({Command::Kind::Start, id, {}, std::move(callbacks), cancelled});
    return std::make_shared<PocketSphinxSession>(weak_from_this(), id, cancelled);
}

void PocketSphinxEngine::enqueue(Command command)
{
    if (command.kind == Command::Kind::Audio)
        m_queuedSamples += command.samples.size() / 2;
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(command));
    }
    m_wake.notify_one();
}

bool PocketSphinxEngine::load()
{
    err_set_logfp(nullptr); // the decoder's chatter would drown Quenda's own log
    const QDir dir(m_modelDirectory);
    const QByteArray hmm = dir.filePath(QStringLiteral("en-us")).toLocal8Bit();
    const QByteArray lm = dir.filePath(QStringLiteral("en-us.lm.bin")).toLocal8Bit();
    const QByteArray dict = dir.filePath(QStringLiteral("cmudict-en-us.dict")).toLocal8Bit();
    auto decoder = std::make_unique<Decoder>();
    decoder->config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(),
                                  "-dict", dict.constData(), nullptr);
    if (decoder->config)
        decoder->decoder = ps_init(decoder->config);
    if (!decoder->decoder)
        return false;
    m_decoder = std::move(decoder);
    return true;
}

void PocketSphinxEngine::ensureLoaded()
{
    if (m_decoder || m_loadState == failed)
        return;
    m_loadStartedMicros = steadyMicros();
    m_loadState = loading;
    const bool ok = load();
    m_loadMicros = steadyMicros() - m_loadStartedMicros;
    if (ok)
        log("Speech",
            QStringLiteral("The PocketSphinx model loaded in %1 s").arg(m_loadMicros / 1e6, 0, 'f', 2));
    {
        std::lock_guard lock(m_mutex);
        m_loadState = ok ? loaded : failed;
    }
    m_loaded.notify_all();
}

void PocketSphinxEngine::release(Utterance& utterance)
{
    if (!m_decoder)
        return;
    if (utterance.active)
        ps_end_utt(m_decoder->decoder);
    utterance = Utterance{};
    m_decoder.reset();
    m_loadState = notLoaded;
    // The decoder's many small blocks leave the heap in pieces; hand the free ones back to the system.
    malloc_trim(0);
    log("Speech", QStringLiteral("The PocketSphinx model was released until the next dictation"));
}

void PocketSphinxEngine::run()
{
    Utterance utterance;
    for (;;) {
        Command command;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
            if (m_quit)
                break;
            command = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (command.kind == Command::Kind::Release) {
            release(utterance);
            continue;
        }
        if (command.kind == Command::Kind::Start || command.kind == Command::Kind::Load)
            ensureLoaded();
        if (command.kind == Command::Kind::Load)
            continue;
        QElapsedTimer timer;
        timer.start();
        process(command, utterance);
        const qint64 micros = timer.nsecsElapsed() / 1000;
        if (command.kind == Command::Kind::Audio) {
            const qint64 samples = command.samples.size() / 2;
            m_queuedSamples -= samples;
            // A moving average of the decoding pace, over buffers long enough to time.
            if (samples >= sampleRate / 50)
                m_decodeMicrosPerSecond = (7 * m_decodeMicrosPerSecond + micros * sampleRate / samples) / 8;
        } else if (command.kind == Command::Kind::End) {
            m_endMicros = (3 * m_endMicros + micros) / 4;
        }
    }
    if (utterance.active && m_decoder)
        ps_end_utt(m_decoder->decoder);
}

void PocketSphinxEngine::process(Command& command, Utterance& utterance)
{
    ps_decoder_t* ps = m_decoder ? m_decoder->decoder : nullptr;
    auto report = [](const Utterance& u, const QString& text, bool isFinal) {
        if (!*u.cancelled && u.callbacks.onResult)
            u.callbacks.onResult(text, isFinal);
    };
    auto fail = [](const SpeechSession::Callbacks& callbacks, const QString& why) {
        if (callbacks.onError)
            callbacks.onError(SpeechEngineError{false, why});
    };
    auto hypothesis = [ps] {
        int32 score = 0;
        const char* text = ps_get_hyp(ps, &score);
        return text ? QString::fromUtf8(text).trimmed() : QString();
    };
    const bool ours = command.session == utterance.session ||
                      (utterance.predecessor != 0 && command.session == utterance.predecessor);

    switch (command.kind) {
    case Command::Kind::Start:
        if (utterance.active && utterance.awaitingSuccessor) {
            // The next segment of the same dictation: take the running utterance over.
            utterance.predecessor = utterance.session;
            utterance.session = command.session;
            utterance.callbacks = command.callbacks;
            utterance.cancelled = command.cancelled;
            utterance.awaitingSuccessor = false;
            if (!utterance.lastHypothesis.isEmpty())
                report(utterance, utterance.lastHypothesis, false);
            return;
        }
        if (utterance.active)
            ps_end_utt(ps); // the previous request was dropped without an end
        utterance = Utterance{};
        utterance.session = command.session;
        utterance.callbacks = command.callbacks;
        utterance.cancelled = command.cancelled;
        if (!ps) {
            fail(command.callbacks, QStringLiteral("The speech model could not be loaded."));
            return;
        }
        if (ps_start_utt(ps) < 0) {
            fail(command.callbacks, QStringLiteral("The speech decoder could not start."));
            return;
        }
        utterance.active = true;
        return;
    case Command::Kind::Audio: {
        if (!utterance.active || !ours || (*utterance.cancelled && !utterance.awaitingSuccessor))
            return;
        const auto* samples = reinterpret_cast<const int16*>(command.samples.constData());
        const qsizetype count = command.samples.size() / 2;
        if (ps_process_raw(ps, samples, size_t(count), FALSE, FALSE) < 0) {
            ps_end_utt(ps);
            utterance.active = false;
            fail(utterance.callbacks, QStringLiteral("The speech decoder failed on the audio."));
            return;
        }
        const bool inSpeech = ps_get_in_speech(ps);
        if (inSpeech)
            utterance.heardSpeech = true;
        if (!inSpeech && utterance.heardSpeech) {
            // The speaker paused long enough for the decoder to close the utterance: the segment ends here
            // and the recogniser continues in a new one.
            ps_end_utt(ps);
            const QString text = hypothesis();
            if (!utterance.awaitingSuccessor) {
                if (text != utterance.lastHypothesis)
                    report(utterance, text, false);
                if (!*utterance.cancelled && utterance.callbacks.onError)
                    utterance.callbacks.onError(
                        SpeechEngineError{true, QStringLiteral("The utterance ended.")});
            }
            utterance.heardSpeech = false;
            utterance.lastHypothesis.clear();
            utterance.samplesSinceHypothesis = 0;
            utterance.awaitingSuccessor = true;
            utterance.active = ps_start_utt(ps) >= 0;
            return;
        }
        // A fresh hypothesis about four times a second of audio is plenty for the live transcript.
        utterance.samplesSinceHypothesis += count;
        if (utterance.samplesSinceHypothesis >= sampleRate / 4) {
            utterance.samplesSinceHypothesis = 0;
            const QString text = hypothesis();
            if (!text.isEmpty() && text != utterance.lastHypothesis) {
                utterance.lastHypothesis = text;
                if (!utterance.awaitingSuccessor)
                    report(utterance, text, false);
            }
        }
        return;
    }
    case Command::Kind::End:
        if (!utterance.active || command.session != utterance.session)
            return;
        // The recogniser moved on to the next segment: that session's end closes the utterance.
        if (utterance.awaitingSuccessor && *utterance.cancelled)
            return;
        ps_end_utt(ps);
        utterance.active = false;
        report(utterance, hypothesis(), true);
        return;
    case Command::Kind::Load:
    case Command::Kind::Release:
        return; // the loop does these before a command gets here
    }
}

} // namespace quenda
