#pragma once

#include "core/DictationPipeline.h"
#include "platform/SecretStore.h"

#include <QString>

#include <functional>
#include <memory>

namespace quenda {

class KeychainStore;
class LinuxDesktop;
class PersonalDictionary;
class QtScheduler;
class QuendaAPIClient;
class SnippetManager;
class SpeechEngineSelector;
class TextEnhancer;
class TrainingDataLogger;
class UserDefaults;

// The one owner of every long-lived service of the process, made once in main (or by a test over a scratch
// folder) and handing out references: the main queue, the settings, the secret store, the user's dictionary
// and snippets, the backend client, the training log, the clean-up service, the speech engines, and, made on
// first use, the desktop and the dictation pipeline over it. What the rest of the system calls "the shared
// store" is the instance held here; nothing else makes a second one.
class AppServices {
public:
    struct Locations {
        QString settingsFile;
        QString secretsFile;
        QString trainingLogFile;
        // The user's own files under the XDG config and data folders.
        static Locations standard();
        // Every file in one folder (tests, scratch runs).
        static Locations in(const QString& folder);
    };

    // `systemSecrets` may be null: the secrets then live in the fallback file only.
    AppServices(const Locations& locations, std::unique_ptr<SecretStore> systemSecrets);
    // The user's own files and the platform's secret store.
    AppServices();
    ~AppServices();
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;

    Scheduler& mainQueue();
    UserDefaults& defaults() { return *m_defaults; }
    KeychainStore& keychain() { return *m_keychain; }
    PersonalDictionary& dictionary() { return *m_dictionary; }
    SnippetManager& snippets() { return *m_snippets; }
    // Made on first use, like the services below them.
    QuendaAPIClient& backend();
    TrainingDataLogger& trainingLog();
    // The clean-up service (it reads the stored keys when it is first asked for).
    TextEnhancer& textEnhancer();
    // The speech engine the settings choose, kept while the settings stay the same.
    SpeechEngineSelector& speechEngines();

    // The desktop's services; null when there is none to work on (no X display, or the process runs
    // without a GUI application). Made on first use.
    DesktopServices* desktop();
#ifdef QUENDA_LINUX_DESKTOP
    LinuxDesktop* linuxDesktop();
#endif

    // The whole dictation pipeline over the desktop; null without one. Made on first use with the pill set
    // before then (none shows anything by default).
    DictationPipeline* pipeline();
    void setPillFactory(DictationPipeline::PillFactory makePill)
    {
        m_makePill = std::move(makePill);
    }

private:
    std::unique_ptr<QtScheduler> m_mainQueue;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<SecretStore> m_systemSecrets;
    std::unique_ptr<KeychainStore> m_keychain;
    std::unique_ptr<PersonalDictionary> m_dictionary;
    std::unique_ptr<SnippetManager> m_snippets;
    std::unique_ptr<QuendaAPIClient> m_backend;
    QString m_trainingLogFile;
    std::unique_ptr<TrainingDataLogger> m_trainingLog;
    std::unique_ptr<TextEnhancer> m_textEnhancer;
    std::unique_ptr<SpeechEngineSelector> m_speechEngines;
#ifdef QUENDA_LINUX_DESKTOP
    std::unique_ptr<LinuxDesktop> m_linuxDesktop;
    bool m_desktopTried = false;
#endif
    std::unique_ptr<DesktopServices> m_desktop;
    DictationPipeline::PillFactory m_makePill;
    std::unique_ptr<DictationPipeline> m_pipeline;
};

} // namespace quenda
