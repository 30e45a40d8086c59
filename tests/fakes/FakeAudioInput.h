#pragma once

#include "platform/AudioInput.h"

#include <QStringList>

namespace quenda::fakes {

// A microphone the test feeds by hand.
class FakeAudioInput final : public AudioInput {
public:
    Format inputFormat() override { return format; }
    std::optional<QString> start(const Format& used, int framesPerBuffer, BufferCallback onBuffer) override
    {
        calls << QStringLiteral("start %1 %2").arg(used.sampleRate).arg(framesPerBuffer);
        if (startError)
            return startError;
        callback = std::move(onBuffer);
        return std::nullopt;
    }
    void stop() override
    {
        calls << QStringLiteral("stop");
        callback = {};
    }

    bool running() const { return bool(callback); }
    void capture(const AudioBuffer& buffer)
    {
        if (callback)
            callback(buffer);
    }

    Format format{16000, 1, AudioBuffer::SampleFormat::Int16};
    std::optional<QString> startError;
    BufferCallback callback;
    QStringList calls;
};

} // namespace quenda::fakes
