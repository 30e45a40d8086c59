#include "app/DesktopPipeline.h"

#include "base/Scheduler.h"
#include "base/UserDefaults.h"
#include "capture/AudioCaptureManager.h"
#include "capture/HotkeyManager.h"
#include "capture/SpeechRecognizer.h"
#include "core/DictationOrchestrator.h"
#include "core/PostPasteCorrector.h"
#include "insert/TextInserter.h"
#include "net/KeychainStore.h"
#include "net/QuendaAPIClient.h"
#include "platform/linux/LinuxMicrophoneAuthorization.h"
#include "platform/linux/LinuxPermissionServices.h"
#include "platform/linux/PocketSphinxEngine.h"
#ifdef QUENDA_WHISPER
#include "platform/linux/WhisperEngine.h"
#endif
#include "text/PersonalDictionary.h"
#include "text/SnippetManager.h"
#include "text/TextEnhancer.h"
#include "training/TrainingDataLogger.h"

namespace quenda {

namespace {

// The text inserter and the orchestrator's chunk typing share one keyboard and one workspace; the
// orchestrator owns its collaborators, so it gets these thin views of the shared ones.
class SharedKeyTyper final : public KeyTyper {
public:
    explicit SharedKeyTyper(KeyTyper& typer)
        : m_typer(typer)
    {}
    bool typeText(const QString& text) override { return m_typer.typeText(text); }

private:
    KeyTyper& m_typer;
};

class SharedWorkspace final : public Workspace {
public:
    explicit SharedWorkspace(Workspace& workspace)
        : m_workspace(workspace)
    {}
    std::optional<RunningApplication> frontmostApplication() const override
    {
        return m_workspace.frontmostApplication();
    }
    bool activate(qint64 processIdentifier) override { return m_workspace.activate(processIdentifier); }
    // Activation notices belong to the accessibility inserter, which keeps the last application in front.
    void setActivationHandler(ActivationHandler) override {}
    std::optional<QString> ownBundleIdentifier() const override { return m_workspace.ownBundleIdentifier(); }
    std::optional<RunningApplication> runningApplication(qint64 processIdentifier) const override
    {
        return m_workspace.runningApplication(processIdentifier);
    }

private:
    Workspace& m_workspace;
};

} // namespace

std::unique_ptr<DesktopPipeline> DesktopPipeline::create(Scheduler& mainQueue, UserDefaults& defaults,
                                                         PillFactory makePill)
{
    std::unique_ptr<LinuxInsertionServices> insertion = LinuxInsertionServices::create();
    if (!insertion)
        return nullptr;
    std::unique_ptr<DesktopPipeline> pipeline(new DesktopPipeline(mainQueue, defaults, std::move(insertion)));
    pipeline->build(std::move(makePill));
    return pipeline;
}

DesktopPipeline::DesktopPipeline(Scheduler& mainQueue, UserDefaults& defaults,
                                 std::unique_ptr<LinuxInsertionServices> insertion)
    : m_mainQueue(mainQueue)
    , m_defaults(defaults)
    , m_insertion(std::move(insertion))
    , m_engines(
          defaults, mainQueue, [] { return std::make_shared<PocketSphinxEngine>(); },
          [] { return KeychainStore::shared().read(KeychainStore::groqAccount); })
{
#ifdef QUENDA_WHISPER
    m_engines.setWhisperFactory(&WhisperEngine::create);
#endif
    // The chosen engine loads its model now, not at the first press.
    m_engines.current();
}

DesktopPipeline::~DesktopPipeline()
{
    m_orchestrator.reset(); // before the desktop services it uses
}

void DesktopPipeline::build(PillFactory makePill)
{
    const InsertionPlatform platform = m_insertion->platform(m_mainQueue, m_defaults);
    // Made before the text inserter: the workspace keeps one activation handler, and it must be the text
    // inserter's own accessibility inserter that follows the applications in front (the read-back keeps
    // no state of its own).
    m_readBack = std::make_unique<AccessibilityInserter>(platform);

    auto hotkey = std::make_unique<HotkeyManager>(m_hotkeySource, m_mainQueue, m_defaults);
    m_hotkeyManager = hotkey.get();

    DictationCollaborators c;
    c.mainQueue = &m_mainQueue;
    c.defaults = &m_defaults;
    c.snippets = &SnippetManager::shared();
    c.trainingLog = &TrainingDataLogger::shared();
    c.audioManager = std::make_unique<AudioCaptureManager>(m_audioInput, m_mainQueue);
    c.speechRecognizer =
        std::make_unique<SpeechRecognizer>(m_mainQueue, [this] { return m_engines.current(); });
    c.hotkeyManager = std::move(hotkey);
    c.textInserter = std::make_unique<TextInserter>(platform);
    c.textEnhancer =
        std::make_unique<TextEnhancer>(m_mainQueue, QuendaAPIClient::shared(), KeychainStore::shared(),
                                       m_defaults, PersonalDictionary::shared());
    c.postPasteCapture = std::make_unique<PostPasteCorrector>(*m_readBack, TrainingDataLogger::shared(),
                                                              PersonalDictionary::shared(), m_mainQueue);
    c.workspace = std::make_unique<SharedWorkspace>(m_insertion->workspace());
    c.keyTyper = std::make_unique<SharedKeyTyper>(m_insertion->keyboard());
    c.microphone = std::make_unique<LinuxMicrophoneAuthorization>(m_audioInput);
    c.permissions = std::make_unique<LinuxPermissionServices>(m_insertion->automation());
    c.makePill = std::move(makePill);
    m_orchestrator = std::make_unique<DictationOrchestrator>(std::move(c));
}

} // namespace quenda
