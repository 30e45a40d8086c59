#pragma once

#include <functional>

namespace quenda {

class AccessibilityService;
class AudioInput;
class AutomationHelper;
class Clipboard;
class HotkeyEventSource;
class KeyTyper;
class KeyboardSynthesizer;
class MicrophoneAuthorization;
class PermissionServices;
class Workspace;

// Every operating-system service the dictation pipeline works through, as one set: the platform's desktop
// (Linux: X11, AT-SPI, XTest, PulseAudio) or the fakes of a test. Whoever makes the set owns the services
// and keeps them alive for as long as anything built over the set.
struct DesktopServices {
    Workspace* workspace = nullptr;
    AccessibilityService* accessibility = nullptr;
    KeyboardSynthesizer* keyboard = nullptr;
    KeyTyper* keyTyper = nullptr;
    Clipboard* clipboard = nullptr;
    AutomationHelper* automation = nullptr; // null when there is no automation helper
    HotkeyEventSource* hotkeys = nullptr;
    AudioInput* audioInput = nullptr;
    PermissionServices* permissions = nullptr;
    MicrophoneAuthorization* microphone = nullptr;
};

} // namespace quenda
