#pragma once

#include "platform/DesktopServices.h"
#include "platform/linux/LinuxInsertionServices.h"
#include "platform/linux/LinuxMicrophoneAuthorization.h"
#include "platform/linux/LinuxPermissionServices.h"
#include "platform/linux/PulseAudioInput.h"
#include "platform/linux/X11HotkeySource.h"

#include <memory>

namespace quenda {

class SpeechEngine;

// The Linux desktop as one set of services: X11 (workspace, hotkey, XTest typing), AT-SPI, the clipboard, the
// automation helper, the sound server and the permission probes. Made once per process by
// whoever owns the services (the application), and kept for as long as anything uses them.
class LinuxDesktop {
public:
    // Null when no X display can be opened.
    static std::unique_ptr<LinuxDesktop> create(const QString& automationProgram = QStringLiteral("xdotool"));
    ~LinuxDesktop();
    LinuxDesktop(const LinuxDesktop&) = delete;
    LinuxDesktop& operator=(const LinuxDesktop&) = delete;

    DesktopServices services();
    LinuxInsertionServices& insertion() { return *m_insertion; }
    X11HotkeySource& hotkeySource() { return m_hotkeySource; }
    PulseAudioInput& audioInput() { return m_audioInput; }

    // The speech engine that runs on the device (PocketSphinx with Debian's US-English model).
    static std::shared_ptr<SpeechEngine> makeOfflineSpeechEngine();

private:
    explicit LinuxDesktop(std::unique_ptr<LinuxInsertionServices> insertion);

    std::unique_ptr<LinuxInsertionServices> m_insertion;
    X11HotkeySource m_hotkeySource;
    PulseAudioInput m_audioInput;
    LinuxPermissionServices m_permissions;
    LinuxMicrophoneAuthorization m_microphone;
};

} // namespace quenda
