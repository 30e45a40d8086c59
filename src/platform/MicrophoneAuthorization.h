#pragma once

#include <functional>

namespace quenda {

// Whether Quenda may record the microphone.
class MicrophoneAuthorization {
public:
    virtual ~MicrophoneAuthorization() = default;

    virtual bool isAuthorized() const = 0;
    // Asks for access; `done` receives whether access is now granted, on any thread.
    virtual void requestAccess(std::function<void(bool granted)> done) = 0;
};

} // namespace quenda
