#include "core/DictationPipeline.h"

#include "capture/AudioCaptureManager.h"
#include "capture/HotkeyManager.h"
#include "core/PostPasteCorrector.h"
#include "insert/AccessibilityInserter.h"
#include "insert/TextInserter.h"

namespace quenda {

DictationPipeline::DictationPipeline(const Stores& stores, const DesktopServices& desktop,
                                     SpeechRecognizer::EngineSource engines, PillFactory makePill)
{
    const InsertionPlatform platform = InsertionPlatform::over(desktop, *stores.mainQueue, *stores.defaults);
    m_textInserter = std::make_unique<TextInserter>(platform);
    m_readBack = std::make_unique<AccessibilityInserter>(platform);
    m_hotkeyManager = std::make_unique<HotkeyManager>(*desktop.hotkeys, *stores.mainQueue, *stores.defaults);
    m_audioManager = std::make_unique<AudioCaptureManager>(*desktop.audioInput, *stores.mainQueue);
    m_speechRecognizer = std::make_unique<SpeechRecognizer>(*stores.mainQueue, std::move(engines));
    m_postPaste = std::make_unique<PostPasteCorrector>(*m_readBack, *stores.trainingLog, *stores.dictionary,
                                                       *stores.mainQueue);

    DictationCollaborators c;
    c.mainQueue = stores.mainQueue;
    c.defaults = stores.defaults;
    c.snippets = stores.snippets;
    c.trainingLog = stores.trainingLog;
    c.audioManager = m_audioManager.get();
    c.speechRecognizer = m_speechRecognizer.get();
    c.hotkeyManager = m_hotkeyManager.get();
    c.textInserter = m_textInserter.get();
    c.textEnhancer = stores.textEnhancer;
    c.postPasteCapture = m_postPaste.get();
    c.workspace = desktop.workspace;
    c.keyTyper = desktop.keyTyper;
    c.microphone = desktop.microphone;
    c.permissions = desktop.permissions;
    c.makePill = std::move(makePill);
    m_orchestrator = std::make_unique<DictationOrchestrator>(c);
}

DictationPipeline::~DictationPipeline()
{
    m_orchestrator.reset(); // before the collaborators it works with
}

} // namespace quenda
