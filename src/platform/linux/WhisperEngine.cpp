#include "platform/linux/WhisperEngine.h"

#include "base/Log.h"
#include "capture/AudioConversion.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <whisper.h>

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace quenda {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("WhisperEngine", text);
}

// Below a second the library transcribes nothing: shorter audio is padded with silence.
constexpr qsizetype shortestPass = WhisperEngine::sampleRate * 6 / 5;
// A partial needs this much new audio to be worth a pass.
constexpr qsizetype partialStep = WhisperEngine::sampleRate * 3 / 10;
// One unit of encoder context covers 20 ms of audio; a full window is 1500 units (30 s).
constexpr int fullContext = 1500;

// Set while a pass is being stopped on purpose: the library then reports failures that are none.
std::atomic_bool stoppingPass{false};

// The library's own log goes to standard error in its own format; only its errors are worth a line.
void routeLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        whisper_log_set(
            [](wsp_ggml_log_level level, const char* text, void*) {
                if (level == WSP_GGML_LOG_LEVEL_ERROR && text && !stoppingPass)
                    log("Whisper", QString::fromUtf8(text).trimmed());
            },
            nullptr);
    });
}

// The encoder context that covers this much audio, with a margin, in steps of 64. The network learnt on
// whole windows: a final keeps two seconds past the audio and at least ~7.7 s in all, so its last words
// are not squeezed against the edge; a partial, redone a second later anyway, gets by with less. Past
// 28 s the library's own windows at full context take over.
int encoderContext(qsizetype samples, bool isFinal)
{
    if (samples >= qsizetype(WhisperEngine::sampleRate) * 28)
        return 0;
    const double seconds = double(samples) / WhisperEngine::sampleRate;
    const double units = seconds * 50 + (isFinal ? 100 : 32);
    const int context = int(std::ceil(units / 64)) * 64;
    return std::min(fullContext, isFinal ? std::max(context, 384) : context);
}

// Segments that only name a sound ("[BLANK_AUDIO]", "(music)") are not words the user said.
QString joinSegments(const QStringList& segments)
{
    static const QRegularExpression annotation(QStringLiteral("^[\\[(*][^\\])*]*[\\])*]$"));
    QString text;
    for (const QString& segment : segments) {
        const QString trimmed = segment.trimmed();
        if (!trimmed.isEmpty() && !annotation.match(trimmed).hasMatch())
            text += QLatin1Char(' ') + trimmed;
    }
    return text.simplified();
}

QString languageFor(const QString& requested, bool multilingual)
{
    if (!multilingual)
        return QStringLiteral("en");
    QString code = requested;
    if (code.isEmpty()) {
        const QLocale locale = QLocale::system();
        code = locale.language() == QLocale::C
                   ? QStringLiteral("en")
                   : QLocale::languageToCode(locale.language(), QLocale::ISO639Part1);
    }
    code = code.toLower();
    return whisper_lang_id(code.toUtf8().constData()) >= 0 ? code : QStringLiteral("en");
}

} // namespace

struct WhisperEngine::Model {
    whisper_context* context = nullptr;
    whisper_state* state = nullptr;
    ~Model()
    {
        if (state)
            whisper_free_state(state);
        if (context)
            whisper_free(context);
    }
};

struct WhisperEngine::SessionState {
    SpeechSession::Callbacks callbacks;
    std::mutex audioMutex;
    std::vector<float> audio; // 16 kHz mono
    std::atomic_bool ended{false};
    std::atomic_bool cancelled{false};
    // Engine thread only, apart from `finished`, which the engine's mutex guards.
    bool finished = false;
    qsizetype samplesAtLastPartial = 0;
    QElapsedTimer sinceLastPartial;
    QString lastPartial;

    qsizetype samples()
    {
        std::lock_guard lock(audioMutex);
        return qsizetype(audio.size());
    }
};

// One run of the network, as the abort callback sees it.
struct WhisperEngine::Pass {
    const WhisperEngine* engine;
    const SessionState* session;
    bool isFinal;
};

class WhisperSession final : public SpeechSession {
public:
    WhisperSession(std::weak_ptr<WhisperEngine> engine, std::shared_ptr<WhisperEngine::SessionState> state)
        : m_engine(std::move(engine))
        , m_state(std::move(state))
    {}
    ~WhisperSession() override
    {
        // A session the recogniser let go of without an end or a final is not worth decoding.
        if (!m_state->ended)
            cancel();
    }

    void append(const AudioBuffer& buffer) override
    {
        if (m_state->cancelled || m_state->ended)
            return;
        QByteArray mono = AudioConversion::toMonoInt16(buffer);
        if (buffer.sampleRate != WhisperEngine::sampleRate)
            mono = AudioConversion::resampleMonoInt16(mono, buffer.sampleRate, WhisperEngine::sampleRate,
                                                      m_position, m_last);
        const auto* samples = reinterpret_cast<const qint16*>(mono.constData());
        const qsizetype count = mono.size() / 2;
        std::lock_guard lock(m_state->audioMutex);
        m_state->audio.reserve(m_state->audio.size() + size_t(count));
        for (qsizetype i = 0; i < count; ++i)
            m_state->audio.push_back(float(samples[i]) / 32768.0f);
    }
    void endAudio() override
    {
        if (m_state->ended.exchange(true))
            return;
        if (auto engine = m_engine.lock()) {
            engine->m_finalWaiting = true; // a partial under way gives way
            engine->notify();
        }
    }
    void cancel() override
    {
        if (m_state->cancelled.exchange(true))
            return;
        if (auto engine = m_engine.lock())
            engine->notify();
    }

private:
    std::weak_ptr<WhisperEngine> m_engine;
    std::shared_ptr<WhisperEngine::SessionState> m_state;
    // Resampler state; only the audio thread appends.
    double m_position = 0;
    qint16 m_last = 0;
};

bool WhisperEngine::processorSupported()
{
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
           __builtin_cpu_supports("f16c") && __builtin_cpu_supports("bmi2");
#else
    return false;
#endif
}

std::shared_ptr<SpeechEngine> WhisperEngine::create(const QString& modelPath)
{
    Options options;
    options.modelPath = modelPath;
    return std::make_shared<WhisperEngine>(std::move(options));
}

WhisperEngine::WhisperEngine(Options options)
    : m_options(std::move(options))
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    m_threads = m_options.threads > 0 ? m_options.threads : int(std::min(cores, 4u));
    const bool supported =
        m_options.processorSupported ? m_options.processorSupported() : processorSupported();
    if (!supported) {
        m_loadState = -1;
        m_unavailableReason = tr(
            "The whisper engine needs a processor with AVX2, FMA and F16C (x86-64-v3); this one lacks them.");
        return;
    }
    if (m_options.modelPath.isEmpty()) {
        m_loadState = -1;
        m_unavailableReason = tr("No whisper model is chosen (quenda model download base.en, or quenda model "
                                 "use PATH).");
        return;
    }
    if (!QFileInfo(m_options.modelPath).isFile()) {
        m_loadState = -1;
        m_unavailableReason = tr("The whisper model %1 does not exist.").arg(m_options.modelPath);
        return;
    }
    routeLibraryLog();
    m_thread = std::thread([this] { run(); });
}

WhisperEngine::~WhisperEngine()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_stopping = true; // a pass under way stops at its next step
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool WhisperEngine::isAvailable() const
{
    std::lock_guard lock(m_mutex);
    return m_loadState >= 0;
}

QString WhisperEngine::unavailableReason() const
{
    std::lock_guard lock(m_mutex);
    return m_unavailableReason;
}

std::optional<WhisperModelInfo> WhisperEngine::modelInfo() const
{
    std::lock_guard lock(m_mutex);
    return m_info;
}

QString WhisperEngine::language() const
{
    std::lock_guard lock(m_mutex);
    return m_language;
}

bool WhisperEngine::waitUntilLoaded()
{
    std::unique_lock lock(m_mutex);
    m_loaded.wait(lock, [this] { return m_loadState != 0; });
    return m_loadState == 1;
}

double WhisperEngine::finalAllowance() const
{
    std::lock_guard lock(m_mutex);
    if (m_loadState < 0)
        return 0;
    if (m_loadState == 0)
        return 30; // the model is still loading: the final waits for it
    // A final after every other waiting one, each a full pass per 30 s window plus its words, and the
    // model's load when it was released.
    double allowance = m_resident ? 1.0 : 1.0 + 2 * m_loadSeconds;
    for (const auto& session : m_sessions) {
        if (session->finished || session->cancelled)
            continue;
        const double seconds = double(session->samples()) / sampleRate;
        const double windows = std::max(1.0, std::ceil(seconds / 30));
        allowance += 2 * windows * m_fullPassSeconds + 0.05 * seconds;
    }
    return allowance;
}

std::shared_ptr<SpeechSession> WhisperEngine::startSession(SpeechSession::Callbacks callbacks)
{
    auto state = std::make_shared<SessionState>();
    state->callbacks = std::move(callbacks);
    state->sinceLastPartial.start();
    {
        std::lock_guard lock(m_mutex);
        m_sessions.push_back(state);
    }
    notify();
    return std::make_shared<WhisperSession>(weak_from_this(), state);
}

void WhisperEngine::notify()
{
    // The engine's thread looks at the sessions and then waits, holding the lock throughout: taking it
    // here keeps a change made in between from going unseen until the wait times out (up to a second).
    {
        std::lock_guard lock(m_mutex);
    }
    m_wake.notify_all();
}

void WhisperEngine::fail(const QString& reason)
{
    log("Whisper", reason);
    std::lock_guard lock(m_mutex);
    m_loadState = -1;
    m_unavailableReason = reason;
    m_loaded.notify_all();
}

bool WhisperEngine::load()
{
    QElapsedTimer timer;
    timer.start();
    const QString name = QFileInfo(m_options.modelPath).fileName();
    QFile file(m_options.modelPath);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(tr("The whisper model %1 cannot be read: %2").arg(m_options.modelPath, file.errorString()));
        return false;
    }
    // The library reads the file it was shown valid, through the same open file.
    QString why;
    const std::optional<WhisperModelInfo> info = WhisperModelFile::inspect(file, &why);
    if (!info) {
        fail(tr("The whisper model %1 is unusable: %2.").arg(name, why));
        return false;
    }
    file.seek(0);
    whisper_model_loader loader{};
    loader.context = &file;
    loader.read = [](void* context, void* output, size_t size) -> size_t {
        const qint64 read = static_cast<QFile*>(context)->read(static_cast<char*>(output), qint64(size));
        return read < 0 ? 0 : size_t(read);
    };
    loader.eof = [](void* context) { return static_cast<QFile*>(context)->atEnd(); };
    loader.close = [](void*) {};
    whisper_context_params params = whisper_context_default_params();
    params.use_gpu = false;
    params.flash_attn = true;
    auto model = std::make_unique<Model>();
    try {
        model->context = whisper_init_with_params_no_state(&loader, params);
        if (model->context)
            model->state = whisper_init_state(model->context);
    } catch (const std::exception& error) {
        log("Whisper", QStringLiteral("Loading failed: %1").arg(QString::fromUtf8(error.what())));
    }
    if (!model->state) {
        fail(tr("The whisper model %1 could not be loaded.").arg(name));
        return false;
    }
    m_model = std::move(model);
    const QString language = languageFor(m_options.language, info->isMultilingual());
    {
        std::lock_guard lock(m_mutex);
        m_info = info;
        m_language = language;
    }
    const double loadSeconds = timer.elapsed() / 1000.0;
    {
        std::lock_guard lock(m_mutex);
        m_loadSeconds = loadSeconds;
        m_resident = true;
        if (m_loadState == 1) {
            // Back after a release: the pass was measured the first time.
            log("Whisper", QStringLiteral("Loaded %1 again in %2 s").arg(name).arg(loadSeconds, 0, 'f', 2));
            return true;
        }
    }

    // One pass over a second of silence at full context pages the weights in and measures the most a
    // final can cost here.
    timer.restart();
    SessionState warmUp;
    transcribe(std::vector<float>(sampleRate, 0.0f), true, warmUp, fullContext);
    const double passSeconds = timer.elapsed() / 1000.0;
    {
        std::lock_guard lock(m_mutex);
        m_fullPassSeconds = passSeconds;
        m_loadState = 1;
    }
    m_loaded.notify_all();
    log("Whisper", QStringLiteral("Loaded %1 (%2) in %3 s; language %4; a full pass takes %5 s on %6 threads")
                       .arg(name, info->shapeName())
                       .arg(loadSeconds, 0, 'f', 2)
                       .arg(language)
                       .arg(passSeconds, 0, 'f', 2)
                       .arg(m_threads));
    const QLocale::Language system = QLocale::system().language();
    const bool wantsOther = !m_options.language.isEmpty()
                                ? m_options.language != QLatin1String("en")
                                : system != QLocale::English && system != QLocale::C;
    if (!info->isMultilingual() && wantsOther)
        log("Whisper", QStringLiteral("%1 understands English only; a multilingual model (quenda model "
                                      "download base) follows the system language")
                           .arg(name));
    return true;
}

void WhisperEngine::releaseModel()
{
    {
        std::lock_guard lock(m_mutex);
        m_releaseRequested = true;
    }
    m_wake.notify_all();
}

bool WhisperEngine::isModelLoaded() const
{
    std::lock_guard lock(m_mutex);
    return m_resident;
}

void WhisperEngine::unload()
{
    m_model.reset();
    malloc_trim(0); // what the library freed goes back to the system
    {
        std::lock_guard lock(m_mutex);
        m_resident = false;
    }
    log("Whisper", QStringLiteral("The model was released until the next dictation"));
}

void WhisperEngine::run()
{
    bool ready = load();
    for (;;) {
        bool isFinal = false;
        Chore chore = Chore::none;
        std::shared_ptr<SessionState> session = nextWork(isFinal, chore);
        if (chore == Chore::release) {
            unload();
            continue;
        }
        if (chore == Chore::reload) {
            ready = load(); // released while idle: back as soon as a session starts
            continue;
        }
        if (!session)
            return; // quitting
        if (!ready) {
            // Sessions that came while the model was loading learn that it failed.
            if (session->callbacks.onError && !session->cancelled)
                session->callbacks.onError(SpeechEngineError{false, unavailableReason()});
            continue;
        }
        if (isFinal)
            runFinal(*session);
        else
            runPartial(*session);
    }
}

// The next thing to do, in this order: a final (oldest first), else a partial of the newest session that
// has enough new audio and whose last partial is a second old. Waits when there is nothing; nothing when
// quitting. A failed engine answers every session once. Before all that, the model's chores: freeing it
// when asked while no session is under way, loading it again as soon as a session comes.
std::shared_ptr<WhisperEngine::SessionState> WhisperEngine::nextWork(bool& isFinal, Chore& chore)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_quit)
            return nullptr;
        std::erase_if(m_sessions, [](const auto& s) { return s->finished || s->cancelled; });
        // A release asked for while a dictation had already started again is moot.
        if (std::exchange(m_releaseRequested, false) && m_sessions.empty() && m_resident) {
            chore = Chore::release;
            return nullptr;
        }
        if (!m_resident && m_loadState == 1 && !m_sessions.empty()) {
            chore = Chore::reload;
            return nullptr;
        }
        if (m_loadState < 0 && !m_sessions.empty()) {
            auto session = m_sessions.front();
            m_sessions.pop_front();
            session->finished = true;
            return session;
        }
        for (const auto& session : m_sessions) {
            if (session->ended) {
                isFinal = true;
                m_finalWaiting = false;
                return session;
            }
        }
        std::shared_ptr<SessionState> newest = m_sessions.empty() ? nullptr : m_sessions.back();
        auto wait = std::chrono::milliseconds(int(m_options.partialInterval * 1000));
        if (newest) {
            const qint64 sinceMsec = newest->sinceLastPartial.elapsed();
            const qint64 intervalMsec = qint64(m_options.partialInterval * 1000);
            const qsizetype samples = newest->samples();
            if (sinceMsec >= intervalMsec && samples - newest->samplesAtLastPartial >= partialStep) {
                isFinal = false;
                return newest;
            }
            // Check again when the interval is up, or a quarter of it later when audio was short.
            wait = std::chrono::milliseconds(std::max<qint64>(intervalMsec - sinceMsec, intervalMsec / 4));
            m_wake.wait_for(lock, wait);
        } else {
            m_wake.wait(lock);
        }
    }
}

void WhisperEngine::runFinal(SessionState& session)
{
    std::vector<float> audio;
    {
        std::lock_guard lock(session.audioMutex);
        audio = session.audio;
    }
    std::optional<QString> text;
    bool failed = false;
    if (audio.empty()) {
        text = QString();
    } else {
        try {
            text = transcribe(audio, true, session);
        } catch (const std::exception& error) {
            log("Whisper", QStringLiteral("The final pass failed: %1").arg(QString::fromUtf8(error.what())));
        }
        failed = !text && !session.cancelled;
    }
    {
        std::lock_guard lock(m_mutex);
        session.finished = true;
    }
    if (session.cancelled)
        return;
    if (text && session.callbacks.onResult)
        session.callbacks.onResult(*text, true);
    else if (failed && session.callbacks.onError)
        session.callbacks.onError(SpeechEngineError{false, tr("The whisper engine failed on the audio.")});
}

void WhisperEngine::runPartial(SessionState& session)
{
    std::vector<float> audio;
    {
        std::lock_guard lock(session.audioMutex);
        audio = session.audio;
    }
    session.samplesAtLastPartial = qsizetype(audio.size());
    std::optional<QString> text;
    try {
        text = transcribe(audio, false, session);
    } catch (const std::exception& error) {
        log("Whisper", QStringLiteral("A partial pass failed: %1").arg(QString::fromUtf8(error.what())));
    }
    session.sinceLastPartial.restart();
    // A partial that lost the race with the end of the audio is not news any more.
    if (!text || text->isEmpty() || *text == session.lastPartial || session.ended || session.cancelled)
        return;
    session.lastPartial = *text;
    if (session.callbacks.onResult)
        session.callbacks.onResult(*text, false);
}

bool WhisperEngine::shouldAbort(const Pass& pass) const
{
    // A partial gives way to its own final, to any other waiting final, and to the engine's end.
    const bool stop =
        pass.session->cancelled || m_stopping || (!pass.isFinal && (pass.session->ended || m_finalWaiting));
    if (stop)
        stoppingPass = true;
    return stop;
}

// One pass of the network over the audio; nothing when it was stopped or failed.
std::optional<QString> WhisperEngine::transcribe(const std::vector<float>& audio, bool isFinal,
                                                 const SessionState& session, int context)
{
    std::vector<float> padded;
    const float* samples = audio.data();
    qsizetype count = qsizetype(audio.size());
    if (count < shortestPass) {
        padded = audio;
        padded.resize(size_t(shortestPass), 0.0f);
        samples = padded.data();
        count = shortestPass;
    }
    Pass pass{this, &session, isFinal};
    const QByteArray language = m_language.toUtf8();
    whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
    params.n_threads = m_threads;
    params.no_context = true; // every pass stands alone: no text of an earlier pass as its prompt
    params.no_timestamps = true;
    params.print_progress = false;
    params.print_realtime = false;
    params.print_special = false;
    params.print_timestamps = false;
    params.suppress_blank = true;
    params.suppress_nst = true;
    params.temperature_inc = 0; // one decode per window: a bounded time for the final
    params.greedy.best_of = 1;
    params.language = language.constData();
    params.detect_language = false;
    params.audio_ctx = context > 0 ? context : encoderContext(count, isFinal);
    params.abort_callback = [](void* data) {
        return static_cast<const Pass*>(data)->engine->shouldAbort(*static_cast<const Pass*>(data));
    };
    params.abort_callback_user_data = &pass;
    params.encoder_begin_callback = [](whisper_context*, whisper_state*, void* data) {
        return !static_cast<const Pass*>(data)->engine->shouldAbort(*static_cast<const Pass*>(data));
    };
    params.encoder_begin_callback_user_data = &pass;

    stoppingPass = false;
    if (m_options.onPassStarted)
        m_options.onPassStarted(isFinal);
    QElapsedTimer timer;
    timer.start();
    const int status = whisper_full_with_state(m_model->context, m_model->state, params, samples, int(count));
    const bool completed = status == 0 && !shouldAbort(pass);
    if (m_options.onPassEnded)
        m_options.onPassEnded(isFinal, completed, timer.nsecsElapsed() / 1e9);
    if (!completed)
        return std::nullopt;
    QStringList segments;
    const int n = whisper_full_n_segments_from_state(m_model->state);
    for (int i = 0; i < n; ++i)
        segments.append(QString::fromUtf8(whisper_full_get_segment_text_from_state(m_model->state, i)));
    return joinSegments(segments);
}

} // namespace quenda
