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

// Speech recognition on the device with PocketSphinx and its US-English model. One decoder, loaded once
// on the engine's own thread when the engine is made; sessions stream partial results while audio arrives
// and a final one at the end of the audio. A silence long enough for the decoder to close the utterance
// ends the segment.
class PocketSphinxEngine final : public SpeechEngine,
                                 public std::enable_shared_from_this<PocketSphinxEngine> {
public:
    static constexpr int sampleRate = 16000;
    static QString defaultModelDirectory();

    explicit PocketSphinxEngine(QString modelDirectory = defaultModelDirectory());
    ~PocketSphinxEngine() override;
    PocketSphinxEngine(const PocketSphinxEngine&) = delete;
    PocketSphinxEngine& operator=(const PocketSphinxEngine&) = delete;

    bool isAvailable() const override;
    // The time to decode the audio still queued, at the pace measured so far, plus the end of the
    // utterance, with half again as a margin.
    double finalAllowance() const override;
    std::shared_ptr<SpeechSession> startSession(SpeechSession::Callbacks callbacks) override;

    // Blocks until the decoder has loaded (or failed to); true when it is ready.
    bool waitUntilLoaded();

private:
    friend class PocketSphinxSession;
    struct Command;
    struct Utterance;

    void enqueue(Command command);
    void run();
    void process(Command& command, Utterance& utterance);
    bool load();

    QString m_modelDirectory;
    bool m_modelPresent = false;
    std::atomic_int m_loadState{0}; // 0 loading, 1 ready, -1 failed
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
