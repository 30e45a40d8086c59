#include "app/AppServices.h"

#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "capture/SpeechEngineSelector.h"
#include "net/KeychainStore.h"
#include "net/QuendaAPIClient.h"
#include "text/PersonalDictionary.h"
#include "text/SnippetManager.h"
#include "text/TextEnhancer.h"
#include "training/TrainingDataLogger.h"

#ifdef QUENDA_LINUX_DESKTOP
#include "platform/linux/LinuxDesktop.h"
#include "platform/linux/SecretServiceStore.h"
#ifdef QUENDA_WHISPER
#include "platform/linux/WhisperEngine.h"
#endif

#include <QGuiApplication>
#endif

#include <QDir>

namespace quenda {

namespace {
// Shows nothing: the pipeline of a process that has no pill of its own.
class NoPill final : public PillPresenter {
public:
    void show(const PillContent&) override {}
    void refresh(const PillContent&) override {}
    void fadeOutAndHide(double) override {}
};

std::unique_ptr<SecretStore> platformSecretStore()
{
#ifdef QUENDA_LINUX_DESKTOP
    return std::make_unique<linux_platform::SecretServiceStore>();
#else
    return nullptr;
#endif
}
} // namespace

AppServices::Locations AppServices::Locations::standard()
{
    return Locations{UserDefaults::standardFilePath(), KeychainStore::defaultFallbackFilePath(),
                     TrainingDataLogger::defaultLogFilePath()};
}

AppServices::Locations AppServices::Locations::in(const QString& folder)
{
    const QDir dir(folder);
    return Locations{dir.filePath(QStringLiteral("Quenda.conf")),
                     dir.filePath(QStringLiteral("secrets.json")),
                     dir.filePath(QStringLiteral("training-data.jsonl"))};
}

AppServices::AppServices()
    : AppServices(Locations::standard(), platformSecretStore())
{}

AppServices::AppServices(const Locations& locations, std::unique_ptr<SecretStore> systemSecrets)
    : m_mainQueue(std::make_unique<QtScheduler>())
    , m_defaults(std::make_unique<UserDefaults>(locations.settingsFile))
    , m_systemSecrets(std::move(systemSecrets))
    , m_keychain(std::make_unique<KeychainStore>(m_systemSecrets.get(), locations.secretsFile))
    , m_dictionary(std::make_unique<PersonalDictionary>(*m_defaults, *m_mainQueue))
    , m_snippets(std::make_unique<SnippetManager>(*m_defaults))
    , m_trainingLogFile(locations.trainingLogFile)
    , m_makePill([] { return std::make_unique<NoPill>(); })
{}

AppServices::~AppServices()
{
    // Users before the services they use.
    m_pipeline.reset();
    m_speechEngines.reset();
    m_textEnhancer.reset();
}

Scheduler& AppServices::mainQueue()
{
    return *m_mainQueue;
}

QuendaAPIClient& AppServices::backend()
{
    if (!m_backend) {
        PersonalDictionary* dictionary = m_dictionary.get();
        m_backend = std::make_unique<QuendaAPIClient>(
            *m_defaults, *m_keychain, [dictionary] { return dictionary->requestDictionary(); });
    }
    return *m_backend;
}

TrainingDataLogger& AppServices::trainingLog()
{
    if (!m_trainingLog)
        m_trainingLog = std::make_unique<TrainingDataLogger>(m_trainingLogFile, &backend());
    return *m_trainingLog;
}

TextEnhancer& AppServices::textEnhancer()
{
    if (!m_textEnhancer)
        m_textEnhancer =
            std::make_unique<TextEnhancer>(*m_mainQueue, backend(), *m_keychain, *m_defaults, *m_dictionary);
    return *m_textEnhancer;
}

SpeechEngineSelector& AppServices::speechEngines()
{
    if (!m_speechEngines) {
        SpeechEngineSelector::OfflineFactory offline;
#ifdef QUENDA_LINUX_DESKTOP
        offline = &LinuxDesktop::makeOfflineSpeechEngine;
#endif
        KeychainStore* keychain = m_keychain.get();
        m_speechEngines =
            std::make_unique<SpeechEngineSelector>(*m_defaults, *m_mainQueue, std::move(offline), [keychain] {
                // Asked at the start of a dictation: the key as the clean-up last read it, not a new wait for
                // the keyring.
                return keychain->readOnce(KeychainStore::groqAccount);
            });
#ifdef QUENDA_WHISPER
        m_speechEngines->setWhisperFactory(&WhisperEngine::create);
#endif
    }
    return *m_speechEngines;
}

#ifdef QUENDA_LINUX_DESKTOP
LinuxDesktop* AppServices::linuxDesktop()
{
    if (!m_desktopTried) {
        m_desktopTried = true;
        // The clipboard and the display connection need the X11 platform of a GUI application.
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            m_linuxDesktop = LinuxDesktop::create();
        if (m_linuxDesktop)
            m_desktop = std::make_unique<DesktopServices>(m_linuxDesktop->services());
    }
    return m_linuxDesktop.get();
}
#endif

DesktopServices* AppServices::desktop()
{
#ifdef QUENDA_LINUX_DESKTOP
    linuxDesktop();
#endif
    return m_desktop.get();
}

DictationPipeline* AppServices::pipeline()
{
    if (m_pipeline)
        return m_pipeline.get();
    DesktopServices* services = desktop();
    if (!services)
        return nullptr;
    DictationPipeline::Stores stores;
    stores.mainQueue = m_mainQueue.get();
    stores.defaults = m_defaults.get();
    stores.snippets = m_snippets.get();
    stores.dictionary = m_dictionary.get();
    stores.trainingLog = &trainingLog();
    stores.textEnhancer = &textEnhancer();
    SpeechEngineSelector* engines = &speechEngines();
    m_pipeline = std::make_unique<DictationPipeline>(
        stores, *services, [engines] { return engines->current(); }, m_makePill);
    // The chosen engine is made now: whisper's model loads at once (it takes seconds); PocketSphinx's
    // loads when the first dictation starts, behind the audio it queues.
    engines->current();
    return m_pipeline.get();
}

} // namespace quenda
