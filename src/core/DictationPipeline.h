#pragma once

#include "capture/SpeechRecognizer.h"
#include "core/DictationOrchestrator.h"
#include "platform/DesktopServices.h"

#include <functional>
#include <memory>

namespace quenda {

class AccessibilityInserter;
class AudioCaptureManager;
class HotkeyManager;
class PersonalDictionary;
class PostPasteCorrector;
class TextInserter;

// The dictation pipeline over one desktop: the orchestrator's collaborators built from the desktop's services
// and the process's stores, and the orchestrator itself. The application, the benchmarks and the tests build
// the pipeline this one way; they differ only in the desktop (Linux or fakes), the speech engine and the
// clean-up service they hand in. Everything handed in must outlive the pipeline.
class DictationPipeline {
public:
    struct Stores {
        Scheduler* mainQueue = nullptr;
        UserDefaults* defaults = nullptr;
        SnippetManager* snippets = nullptr;
        PersonalDictionary* dictionary = nullptr;
        TrainingLog* trainingLog = nullptr;
        TextEnhancement* textEnhancer = nullptr;
    };
    using PillFactory = std::function<std::unique_ptr<PillPresenter>()>;

    DictationPipeline(const Stores& stores, const DesktopServices& desktop,
                      SpeechRecognizer::EngineSource engines, PillFactory makePill);
    ~DictationPipeline();
    DictationPipeline(const DictationPipeline&) = delete;
    DictationPipeline& operator=(const DictationPipeline&) = delete;

    DictationOrchestrator& orchestrator() { return *m_orchestrator; }
    HotkeyManager& hotkeyManager() { return *m_hotkeyManager; }
    AudioCaptureManager& audioManager() { return *m_audioManager; }
    SpeechRecognizer& speechRecognizer() { return *m_speechRecognizer; }
    TextInserter& textInserter() { return *m_textInserter; }
    // The orchestrator's own accessibility inserter, which reads a field back after an insertion.
    AccessibilityInserter& readBack() { return *m_readBack; }

private:
    std::unique_ptr<TextInserter> m_textInserter;
    std::unique_ptr<AccessibilityInserter> m_readBack;
    std::unique_ptr<HotkeyManager> m_hotkeyManager;
    std::unique_ptr<AudioCaptureManager> m_audioManager;
    std::unique_ptr<SpeechRecognizer> m_speechRecognizer;
    std::unique_ptr<PostPasteCorrector> m_postPaste;
    std::unique_ptr<DictationOrchestrator> m_orchestrator; // last: it goes first
};

} // namespace quenda
