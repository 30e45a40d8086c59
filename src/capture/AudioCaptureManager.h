#pragma once

#include "capture/AudioCapture.h"
#include "platform/AudioInput.h"

#include <QMutex>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

namespace quenda {

class Scheduler;

enum class AudioCaptureError { noInputDevice };
QString describe(AudioCaptureError error);

// Records the default microphone while a dictation is under way: every buffer goes to one consumer on the
// capture thread, and its loudness (RMS × 5, clamped to 0…1) to the main queue. No file output, no
// format conversion.
class AudioCaptureManager final : public QObject, public AudioCapture {
    Q_OBJECT
public:
    static constexpr int framesPerBuffer = 1024;
    // Runs blocking device work somewhere other than the main thread.
    using Runner = std::function<void(std::function<void()>)>;

    AudioCaptureManager(AudioInput& input, Scheduler& mainQueue, Runner runner = {},
                        QObject* parent = nullptr);
    ~AudioCaptureManager() override;

    void startRecording(StartCompletion done) override;
    void stopRecording() override;
    bool isRecording() const override { return m_isRecording; }
    void setBufferHandler(BufferHandler handler) override;
    void setLevelHandler(LevelHandler handler) override { m_levelHandler = std::move(handler); }

    bool isStarting() const { return m_isStarting; }
    float audioLevel() const { return m_audioLevel; }

    // Loudness of one buffer from its first channel: RMS × 5, clamped to 0…1 (not-a-number reads as 1).
    static float level(const AudioBuffer& buffer);

private:
    void deliver(const AudioBuffer& buffer);
    void setAudioLevel(float level);

    // Shared with a start under way on the device thread, so the manager outlives it.
    struct Lifetime {
        std::mutex mutex;
        bool alive = true;
    };
    std::shared_ptr<Lifetime> m_lifetime = std::make_shared<Lifetime>();
    AudioInput& m_input;
    Scheduler& m_mainQueue;
    Runner m_runner;
    std::atomic_bool m_isRecording{false};
    std::atomic_bool m_isStarting{false};
    // Bumped by every stop, so a start that finishes after the user stopped closes the device again.
    std::atomic_int m_generation{0};
    float m_audioLevel = 0;
    QMutex m_handlerMutex;
    BufferHandler m_bufferHandler;
    LevelHandler m_levelHandler;
};

} // namespace quenda
