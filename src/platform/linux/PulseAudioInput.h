#pragma once

#include "platform/AudioInput.h"

#include <memory>
#include <mutex>

namespace quenda {

// The default microphone of the sound server, through libpulse (PulseAudio, or PipeWire's PulseAudio
// service). Every recording opens a connection of its own, so a sound server that restarted between two
// dictations is simply found again at the next one. The server's own thread is the capture thread: it
// delivers the buffers. The server converts to the asked-for format. A monitor of a speaker is not a
// microphone: when the default source is one, there is no input device.
class PulseAudioInput final : public AudioInput {
public:
    PulseAudioInput();
    ~PulseAudioInput() override;
    PulseAudioInput(const PulseAudioInput&) = delete;
    PulseAudioInput& operator=(const PulseAudioInput&) = delete;

    // Asks the server, blocking for at most a moment: call it off the main thread.
    Format inputFormat() override;
    std::optional<QString> start(const Format& format, int framesPerBuffer, BufferCallback onBuffer) override;
    void stop() override;

    // How long the server may take to answer before it counts as gone.
    static constexpr int answerTimeoutMsec = 2000;

private:
    class Connection;
    std::mutex m_mutex; // start and stop come from different threads
    std::unique_ptr<Connection> m_recording;
};

} // namespace quenda
