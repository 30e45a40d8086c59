#pragma once

#include "platform/AudioBuffer.h"

#include <QString>

#include <functional>
#include <optional>

namespace quenda {

// The microphone while a dictation is under way: buffers go to one consumer on the capture thread, and the
// loudness (0…1) of each buffer to the main queue.
class AudioCapture {
public:
    using BufferHandler = std::function<void(const AudioBuffer&)>;
    using LevelHandler = std::function<void(float)>;
    // Called once the start has succeeded (no error) or failed (the error's description), on any thread.
    using StartCompletion = std::function<void(std::optional<QString> error)>;

    virtual ~AudioCapture() = default;

    virtual void startRecording(StartCompletion done) = 0;
    // Synchronous: no buffer is delivered after it returns.
    virtual void stopRecording() = 0;
    virtual bool isRecording() const = 0;
    // Invoked on the audio capture thread for every buffer.
    virtual void setBufferHandler(BufferHandler handler) = 0;
    // Invoked on the main queue with the level of the latest buffer (0 after a stop).
    virtual void setLevelHandler(LevelHandler handler) = 0;
};

} // namespace quenda
