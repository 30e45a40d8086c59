#include "platform/linux/LinuxMicrophoneAuthorization.h"

#include <QThreadPool>

namespace quenda {

LinuxMicrophoneAuthorization::LinuxMicrophoneAuthorization(AudioInput& input)
    : m_input(input)
{}

void LinuxMicrophoneAuthorization::requestAccess(std::function<void(bool)> done)
{
    QThreadPool::globalInstance()->start([this, done = std::move(done)] {
        const AudioInput::Format format = m_input.inputFormat();
        bool opened = false;
        if (format.sampleRate > 0) {
            opened = !m_input.start(format, 1024, {}).has_value();
            m_input.stop();
        }
        if (done)
            done(opened);
    });
}

} // namespace quenda
