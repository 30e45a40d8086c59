#pragma once

#include <functional>

namespace quenda {

class AccessibilityService;
class AutomationHelper;
class Clipboard;
class KeyboardSynthesizer;
class Scheduler;
class UserDefaults;
class Workspace;

// The desktop services the inserters work through. Every pointer must outlive the inserters.
struct InsertionPlatform {
    Scheduler* mainQueue = nullptr;
    Workspace* workspace = nullptr;
    AccessibilityService* accessibility = nullptr;
    KeyboardSynthesizer* keyboard = nullptr;
    Clipboard* clipboard = nullptr;
    AutomationHelper* automation = nullptr;
    UserDefaults* defaults = nullptr;
    // Blocks the calling thread; the real one sleeps, tests record the pauses.
    std::function<void(double seconds)> sleep;
};

} // namespace quenda
