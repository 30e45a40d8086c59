#pragma once

#include "capture/SpeechEngine.h"
#include "capture/WhisperModelFile.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quenda {

// Speech recognition on the device with a whisper model, in the process. The model is validated and
// loaded on the engine's own thread when the engine is made, and again for the first session after
// releaseModel() freed it. While the user speaks, the audio so
// far is transcribed again about once a second with an encoder context cut close to the audio's length
// for the partial results; once the audio has ended, the final result comes from a pass whose context
// covers the audio with a wider margin (the encoder's cost follows the context, so a short dictation
// does not pay for a whole 30 s window). A running pass stops within one step of the network when its
// session is cancelled, or when a final is waiting behind a partial.
//
// The library's kernels need an x86-64-v3 processor (AVX2, FMA, F16C); on an older one, or without a
// valid model, the engine is unavailable and says why.
class WhisperEngine final : public SpeechEngine, public std::enable_shared_from_this<WhisperEngine> {
public:
    static constexpr int sampleRate = 16000;

    struct Options {
        QString modelPath;
        // A language code ("de"); empty: the system locale's, for a model that understands it.
        QString language;
        // Threads for one pass; 0: one per core, at most four.
        int threads = 0;
        double partialInterval = 1.0;
        // Whether this processor can run the kernels; empty: ask the processor.
        std::function<bool()> processorSupported;
        // Each pass over a session's audio as it starts and ends (whether it ran to its end, how long it
        // took), on the engine's thread: for measurements.
        std::function<void(bool isFinal)> onPassStarted;
        std::function<void(bool isFinal, bool completed, double seconds)> onPassEnded;
    };

    static bool processorSupported();
    // With the default options: for the engine selector.
    static std::shared_ptr<SpeechEngine> create(const QString& modelPath);

    explicit WhisperEngine(Options options);
    ~WhisperEngine() override;
    WhisperEngine(const WhisperEngine&) = delete;
    WhisperEngine& operator=(const WhisperEngine&) = delete;

    bool isAvailable() const override;
    double finalAllowance() const override;
    std::shared_ptr<SpeechSession> startSession(SpeechSession::Callbacks callbacks) override;
    // Frees the model (some 150-250 MB) once no session is under way; the next session loads it again
    // (a fraction of a second from the page cache) before its first pass.
    void releaseModel() override;
    bool isModelLoaded() const;

    QString unavailableReason() const override;
    // Blocks until the model has loaded (or failed to); true when it is ready.
    bool waitUntilLoaded();
    const QString& modelPath() const { return m_options.modelPath; }
    // Known once loaded.
    std::optional<WhisperModelInfo> modelInfo() const;
    QString language() const;

private:
    friend class WhisperSession;
    struct Model;
    struct SessionState;
    struct Pass;

    void run();
    bool load();
    void fail(const QString& reason);
    void notify();
    enum class Chore { none, release, reload };
    std::shared_ptr<SessionState> nextWork(bool& isFinal, Chore& chore);
    void unload();
    void runFinal(SessionState& session);
    void runPartial(SessionState& session);
    // `context`: the encoder context in 20 ms units; 0 fits it to the audio.
    std::optional<QString> transcribe(const std::vector<float>& audio, bool isFinal,
                                      const SessionState& session, int context = 0);
    bool shouldAbort(const Pass& pass) const;

    Options m_options;
    int m_threads = 1;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_loaded;
    int m_loadState = 0; // 0 loading, 1 ready, -1 unavailable
    QString m_unavailableReason;
    std::optional<WhisperModelInfo> m_info;
    QString m_language;
    double m_fullPassSeconds = 0; // measured once loaded
    double m_loadSeconds = 0;
    bool m_resident = false; // the model is in memory
    bool m_releaseRequested = false;
    std::deque<std::shared_ptr<SessionState>> m_sessions;
    bool m_quit = false;
    std::atomic_bool m_finalWaiting{false};
    std::atomic_bool m_stopping{false};

    std::unique_ptr<Model> m_model; // engine thread only
    std::thread m_thread;
};

} // namespace quenda
