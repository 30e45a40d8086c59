#pragma once

#include "capture/SpeechEngineSelector.h"
#include "insert/AccessibilityInserter.h"
#include "platform/linux/LinuxInsertionServices.h"
#include "platform/linux/QtAudioInput.h"
#include "platform/linux/X11HotkeySource.h"

#include <functional>
#include <memory>

namespace quenda {

class DictationOrchestrator;
class HotkeyManager;
class PillPresenter;
class Scheduler;
class UserDefaults;

// The whole dictation pipeline on the Linux desktop: the X11 hotkey, the microphone, the configured speech
// engine, the clean-up service, the insertion chain and the read-back, wired into one orchestrator. The
// desktop services are owned here and outlive the orchestrator that uses them.
class DesktopPipeline {
public:
    using PillFactory = std::function<std::unique_ptr<PillPresenter>()>;

    // Null when no X display can be opened.
    static std::unique_ptr<DesktopPipeline> create(Scheduler& mainQueue, UserDefaults& defaults,
                                                   PillFactory makePill);
    ~DesktopPipeline();

    DictationOrchestrator& orchestrator() { return *m_orchestrator; }
    HotkeyManager& hotkeyManager() { return *m_hotkeyManager; }

private:
    DesktopPipeline(Scheduler& mainQueue, UserDefaults& defaults,
                    std::unique_ptr<LinuxInsertionServices> insertion);
    void build(PillFactory makePill);

    Scheduler& m_mainQueue;
    UserDefaults& m_defaults;
    std::unique_ptr<LinuxInsertionServices> m_insertion;
    X11HotkeySource m_hotkeySource;
    QtAudioInput m_audioInput;
    SpeechEngineSelector m_engines;
    std::unique_ptr<AccessibilityInserter> m_readBack; // the orchestrator's own, for the read-back
    HotkeyManager* m_hotkeyManager = nullptr;          // owned by the orchestrator
    std::unique_ptr<DictationOrchestrator> m_orchestrator;
};

} // namespace quenda
