#include "platform/linux/LinuxMicrophoneAuthorization.h"

#include <QThreadPool>

namespace quenda {

LinuxMicrophoneAuthorization::LinuxMicrophoneAuthorization(AudioInput& input)
    : m_input(input)
{}

bool LinuxMicrophoneAuthorization::isAuthorized() const
{
    return !m_lastOpenFailed && m_input.inputFormat().sampleRate > 0;
}

void LinuxMicrophoneAuthorization::requestAccess(std::function<void(bool)> done)
{
    QThreadPool::globalInstance()->start([this, done = std::move(done)] {
        const AudioInput::Format format = m_input.inputFormat();
        bool granted = false;
        if (format.sampleRate > 0) {
            granted = !m_input.start(format, 1024, {}).has_value();
            m_input.stop();
        }
        m_lastOpenFailed = !granted;
        if (done)
            done(granted);
    });
}

} // namespace quenda
