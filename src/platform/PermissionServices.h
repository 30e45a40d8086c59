#pragma once

#include <functional>

namespace quenda {

// The operating system's permission checks and prompts that the system relies on.
class PermissionServices {
public:
    // The settings a user may need to change for Quenda to work.
    enum class SettingsPane { accessibility, inputMonitoring, microphone, speechRecognition };

    virtual ~PermissionServices() = default;

    // Other applications' text fields may be read and written. Answers at once from what is known; where
    // finding out means asking another process, the answer is refreshed in the background and a change
    // is told to the handler below.
    virtual bool isAccessibilityTrusted() const = 0;
    // Called on the main thread when the accessibility state is found to have changed.
    virtual void setOnAccessibilityChanged(std::function<void()> changed) { (void)changed; }
    // Shows the system's accessibility prompt (or turns accessibility on where asking does that).
    virtual void promptForAccessibility() = 0;
    // Key events of every application may be observed.
    virtual bool canListenToEvents() const = 0;
    virtual void requestListenAccess() = 0;
    // Synthetic key events may be posted.
    virtual bool canPostEvents() const = 0;
    // Probes the automation helper used by the paste fallback. Blocking work runs off the main thread;
    // `done` receives the outcome on any thread.
    virtual void probeAutomation(std::function<void(bool succeeded)> done) = 0;
    // Opens the desktop's settings for the pane (or a help page when the desktop has none); false when
    // nothing could be opened.
    virtual bool openSettingsPane(SettingsPane pane) = 0;
};

} // namespace quenda
