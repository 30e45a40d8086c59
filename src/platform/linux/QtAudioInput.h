#pragma once

#include "platform/AudioInput.h"

#include <QThread>

namespace quenda {

class QtAudioInputWorker;

// The default microphone through Qt Multimedia (PulseAudio or PipeWire underneath). The device lives on a
// capture thread of its own, which also delivers the buffers; 16 kHz mono 16-bit is asked for, and the
// sound server converts.
class QtAudioInput final : public AudioInput {
public:
    QtAudioInput();
    ~QtAudioInput() override;
    QtAudioInput(const QtAudioInput&) = delete;
    QtAudioInput& operator=(const QtAudioInput&) = delete;

    Format inputFormat() override;
    std::optional<QString> start(const Format& format, int framesPerBuffer, BufferCallback onBuffer) override;
    void stop() override;

private:
    QThread m_thread;
    QtAudioInputWorker* m_worker;
};

} // namespace quenda
