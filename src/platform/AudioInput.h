#pragma once

#include "platform/AudioBuffer.h"

#include <QString>

#include <functional>
#include <optional>

namespace quenda {

// The default microphone of the sound server.
class AudioInput {
public:
    struct Format {
        int sampleRate = 0; // 0: there is no input device
        int channelCount = 0;
        AudioBuffer::SampleFormat sampleFormat = AudioBuffer::SampleFormat::Int16;
    };
    using BufferCallback = std::function<void(const AudioBuffer&)>;

    virtual ~AudioInput() = default;

    // The format recording will use; a sample rate of 0 when no input device exists.
    virtual Format inputFormat() = 0;
    // Opens the device and starts delivering buffers of about `framesPerBuffer` frames on the capture
    // thread. Blocking, so callers run it off the main thread. Returns the failure's description.
    virtual std::optional<QString> start(const Format& format, int framesPerBuffer,
                                         BufferCallback onBuffer) = 0;
    // Delivers what the device has already captured, then stops: no buffer arrives after it returns.
    virtual void stop() = 0;
};

} // namespace quenda
