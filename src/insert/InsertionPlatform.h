#pragma once

#include "platform/DesktopServices.h"

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

    // The desktop's services as the inserters take them.
    static InsertionPlatform over(const DesktopServices& desktop, Scheduler& mainQueue,
                                  UserDefaults& defaults)
    {
        InsertionPlatform platform;
        platform.mainQueue = &mainQueue;
        platform.workspace = desktop.workspace;
        platform.accessibility = desktop.accessibility;
        platform.keyboard = desktop.keyboard;
        platform.clipboard = desktop.clipboard;
        platform.automation = desktop.automation;
        platform.defaults = &defaults;
        return platform;
    }
};

} // namespace quenda
