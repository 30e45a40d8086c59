#pragma once

#include "platform/AudioInput.h"
#include "platform/MicrophoneAuthorization.h"

#include <atomic>

namespace quenda {

// Linux has no microphone grant of its own: access is there when an input device exists and opens.
class LinuxMicrophoneAuthorization final : public MicrophoneAuthorization {
public:
    explicit LinuxMicrophoneAuthorization(AudioInput& input);

    bool isAuthorized() const override;
    // Opens the default input for a moment, off the main thread.
    void requestAccess(std::function<void(bool granted)> done) override;

private:
    AudioInput& m_input;
    std::atomic_bool m_lastOpenFailed{false};
};

} // namespace quenda
