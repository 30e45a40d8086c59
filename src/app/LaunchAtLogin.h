#pragma once

namespace quenda {

class LoginItemService;

// Launch at login for the settings window and the first-run flow. It keeps no state of its own: the
// desktop's login items are the truth, read each time.
class LaunchAtLogin {
public:
    explicit LaunchAtLogin(LoginItemService& service);

    // A refusal is written to the log; the switch then shows the real status the next time it is drawn.
    void enableLaunchAtLogin();
    void disableLaunchAtLogin();
    bool isLaunchAtLoginEnabled() const;

private:
    LoginItemService& m_service;
};

} // namespace quenda
