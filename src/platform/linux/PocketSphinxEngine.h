#pragma once

#include "capture/SpeechEngine.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace quenda {

// Speech recognition on the device with PocketSphinx and its US-English model. One decoder, loaded on the
// engine's own thread when the first session starts (it takes some 90 MB, which an idle tray application
// should not hold) and freed again by releaseModel(); the audio of a session waits in the queue while the
// model loads, so no word is lost. Sessions stream partial results while audio arrives and a final one at
// the end of the audio. A silence long enough for the decoder to close the utterance ends the segment.
class PocketSphinxEngine final : public SpeechEngine,
                                 public std::enable_shared_from_this<PocketSphinxEngine> {
public:
    static constexpr int sampleRate = 16000;
    static QString defaultModelDirectory();
    // The model's files are there; tells without loading them.
    static bool isModelInstalled(const QString& modelDirectory = defaultModelDirectory());

    explicit PocketSphinxEngine(QString modelDirectory = defaultModelDirectory());
    ~PocketSphinxEngine() override;
    PocketSphinxEngine(const PocketSphinxEngine&) = delete;
    PocketSphinxEngine& operator=(const PocketSphinxEngine&) = delete;

    bool isAvailable() const override;
    // The time to decode the audio still queued, at the pace measured so far, plus the end of the
    // utterance and what is left of loading the model, with half again as a margin.
    double finalAllowance() const override;
    std::shared_ptr<SpeechSession> startSession(SpeechSession::Callbacks callbacks) override;
    void releaseModel() override;

    // Loads the decoder now and blocks until it has loaded (or failed to); true when it is ready.
    bool waitUntilLoaded();
    bool isModelLoaded() const { return m_loadState == loaded; }

private:
    friend class PocketSphinxSession;
    struct Command;
    struct Utterance;

    void enqueue(Command command);
    void run();
    void process(Command& command, Utterance& utterance);
    bool load();
    void ensureLoaded();
    void release(Utterance& utterance);

    QString m_modelDirectory;
    bool m_modelPresent = false;
    enum LoadState { notLoaded, loading, loaded, failed };
    std::atomic_int m_loadState{notLoaded};
    // How long the last load took (a first guess until then), and when the current one began.
    std::atomic<qint64> m_loadMicros{3000000};
    std::atomic<qint64> m_loadStartedMicros{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_loaded;
    std::deque<Command> m_queue;
    bool m_quit = false;
    std::atomic<quint64> m_nextSession{0};
    // What the decoder has yet to do, and how fast it has been (microseconds per second of audio; the
    // end of an utterance in microseconds).
    std::atomic<qint64> m_queuedSamples{0};
    std::atomic<qint64> m_decodeMicrosPerSecond{300000};
    std::atomic<qint64> m_endMicros{500000};
    struct Decoder;
    std::unique_ptr<Decoder> m_decoder;
    std::thread m_thread;
};

} // namespace quenda
