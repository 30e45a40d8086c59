#pragma once

#include <functional>

namespace quenda {

class AppServices;
class DictationPipeline;
class LaunchAtLogin;
class WindowRouter;
struct DesktopServices;

// Puts the real windows behind the router's identifiers: "settings", "stats", "dictionary", "snippets",
// "report-problem", "feedback" and "onboarding". Each window and its view-model are made on first use over
// the application's services and the dictation pipeline, and live as long as the router keeps the window.
class AppWindows {
public:
    struct Shell {
        WindowRouter* router = nullptr;
        LaunchAtLogin* launchAtLogin = nullptr;
        // Starts a fresh Quenda and ends this one (after a permission reset).
        std::function<void()> relaunch;
        // The first-run flow finished (signed in or skipped): the start-up goes on from here.
        std::function<void()> onboardingFinished;
    };

    // Everything handed in must outlive the router's windows.
    static void install(AppServices& services, DictationPipeline& pipeline, const DesktopServices& desktop,
                        Shell shell);
};

} // namespace quenda
