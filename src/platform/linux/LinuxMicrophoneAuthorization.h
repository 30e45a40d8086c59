#pragma once

#include "platform/AudioInput.h"
#include "platform/MicrophoneAuthorization.h"

namespace quenda {

// Linux grants no microphone permission of its own: Quenda may always record. A missing or failing input
// device is not a refusal; it shows when recording starts ("Mic unavailable — check audio device").
class LinuxMicrophoneAuthorization final : public MicrophoneAuthorization {
public:
    explicit LinuxMicrophoneAuthorization(AudioInput& input);

    bool isAuthorized() const override { return true; }
    // Opens the default input for a moment, off the main thread, and says whether it worked.
    void requestAccess(std::function<void(bool granted)> done) override;

private:
    AudioInput& m_input;
};

} // namespace quenda
