#include "ui/settings/SettingsModel.h"

#include "base/Log.h"
#include "base/Scheduler.h"
#include "base/UserDefaults.h"
#include "base/Wording.h"
#include "core/DictationOrchestrator.h"
#include "net/KeychainStore.h"
#include "net/QuendaAPIClient.h"
#include "platform/MicrophoneAuthorization.h"
#include "platform/PermissionServices.h"
#include "training/TrainingDataLogger.h"
#include "ui/Background.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace quenda {

namespace {

using Kind = PermissionRow::Kind;
using Pane = PermissionServices::SettingsPane;

Wording::Permission helpTopic(Kind kind)
{
    switch (kind) {
    case Kind::microphone:
        return Wording::Permission::microphone;
    case Kind::accessibility:
        return Wording::Permission::accessibility;
    case Kind::inputMonitoring:
    case Kind::syntheticTyping:
        return Wording::Permission::inputMonitoring;
    case Kind::automation:
        return Wording::Permission::automation;
    case Kind::speechRecognition:
        return Wording::Permission::speechRecognition;
    }
    return Wording::Permission::microphone;
}

struct StoredState {
    bool groqKeyConfigured = false;
    int pairs = 0;
    int flagged = 0;
};

} // namespace

SettingsModel::SettingsModel(const Services& services, Hooks hooks, QObject* parent)
    : QObject(parent)
    , m_s(services)
    , m_hooks(std::move(hooks))
{
    m_devModeEnabled = m_s.defaults->boolForKey(devModeKey);
    m_backendConnected = m_s.backend->authToken().has_value();
    connect(m_s.hotkey, &HotkeyManager::stateChanged, this, &SettingsModel::changed);
    connect(m_s.orchestrator, &DictationOrchestrator::permissionsChanged, this, &SettingsModel::changed);
    connect(m_s.orchestrator, &DictationOrchestrator::lastInsertionStatusChanged, this,
            &SettingsModel::changed);
}

SettingsModel::~SettingsModel() = default;

void SettingsModel::refresh()
{
    m_launchAtLogin = m_hooks.isLaunchAtLoginEnabled && m_hooks.isLaunchAtLoginEnabled();
    m_backendHost =
        m_s.defaults->stringValue(QuendaAPIClient::hostKey).value_or(QuendaAPIClient::productionOrigin);
    m_devModeEnabled = m_s.defaults->boolForKey(devModeKey);
    if (!m_connecting)
        m_backendConnected = m_s.backend->authToken().has_value();
    refreshPermissions();
    readKeyringAndLog();
}

void SettingsModel::readKeyringAndLog()
{
    KeychainStore* keychain = m_s.keychain;
    UserDefaults* defaults = m_s.defaults;
    TrainingDataLogger* trainingLog = m_s.trainingLog;
    inBackground(
        m_pool,
        [keychain, defaults, trainingLog] {
            StoredState state;
            const std::optional<QString> key = keychain->read(KeychainStore::groqAccount);
            state.groqKeyConfigured =
                (key && !key->isEmpty()) ||
                !defaults->stringValue(KeychainStore::groqAccount).value_or(QString()).isEmpty();
            state.pairs = int(trainingLog->allEntries().size());
            state.flagged = trainingLog->flaggedCount();
            return state;
        },
        m_lifetime.guard([this](StoredState state) {
            m_groqKeyConfigured = state.groqKeyConfigured;
            m_pairsCollected = state.pairs;
            m_correctionsFlagged = state.flagged;
            Q_EMIT changed();
        }));
}

void SettingsModel::setMode(HotkeyMode mode)
{
    m_s.hotkey->setMode(mode);
}

void SettingsModel::retryHotkeyListener()
{
    m_s.orchestrator->configurePipeline();
}

void SettingsModel::setLaunchAtLogin(bool on)
{
    if (m_hooks.setLaunchAtLogin)
        m_hooks.setLaunchAtLogin(on);
    // The desktop's autostart entry is the truth: show what it says now, refused or not.
    m_launchAtLogin = m_hooks.isLaunchAtLoginEnabled && m_hooks.isLaunchAtLoginEnabled();
    Q_EMIT changed();
}

QList<PermissionRow> SettingsModel::permissionRows() const
{
    const DictationOrchestrator& o = *m_s.orchestrator;
    QList<PermissionRow> rows{
        {Kind::microphone, tr("Microphone"), m_microphoneGranted, tr("Grant Access"), {}},
        {Kind::accessibility, tr("Accessibility"), o.accessibilityAccessGranted(), tr("Open Settings"), {}},
        {Kind::inputMonitoring,
         tr("Input Monitoring"),
         o.eventListeningAccessGranted(),
         tr("Open Settings"),
         {}},
        {Kind::automation, tr("Automation"), o.automationAccessGranted(), tr("Grant in Settings"), {}},
        {Kind::syntheticTyping, tr("Synthetic Typing"), o.eventPostingAccessGranted(), {}, {}},
        {Kind::speechRecognition, tr("Speech Recognition"), m_speechReady, tr("Grant Access"), {}},
    };
    for (PermissionRow& row : rows) {
        if (!row.granted && m_tried.count(row.kind))
            row.help = Wording::permissionHelp(helpTopic(row.kind));
    }
    return rows;
}

void SettingsModel::runPermissionAction(PermissionRow::Kind kind)
{
    m_tried.insert(kind);
    PermissionServices& permissions = *m_s.permissions;
    DictationOrchestrator& orchestrator = *m_s.orchestrator;
    switch (kind) {
    case Kind::microphone:
        // Opening an input device is how access is asked for; when it fails the sound settings can help.
        m_s.microphone->requestAccess(
            [queue = m_s.mainQueue, answered = m_lifetime.guard([this](bool granted) {
                m_microphoneGranted = granted;
                if (!granted)
                    m_s.permissions->openSettingsPane(Pane::microphone);
                Q_EMIT changed();
            })](bool granted) { queue->post([answered, granted]() mutable { answered(granted); }); });
        break;
    case Kind::accessibility:
        // Asking turns the accessibility bus on; only when that did not help is there a page to open.
        permissions.promptForAccessibility();
        orchestrator.refreshPermissionStatus();
        if (!orchestrator.accessibilityAccessGranted())
            permissions.openSettingsPane(Pane::accessibility);
        break;
    case Kind::inputMonitoring:
        permissions.requestListenAccess();
        orchestrator.refreshPermissionStatus();
        if (!orchestrator.eventListeningAccessGranted())
            permissions.openSettingsPane(Pane::inputMonitoring);
        break;
    case Kind::automation:
        orchestrator.requestAutomationAccess(true);
        break;
    case Kind::speechRecognition:
        m_speechReady = m_hooks.isSpeechEngineReady && m_hooks.isSpeechEngineReady();
        if (!m_speechReady)
            permissions.openSettingsPane(Pane::speechRecognition);
        break;
    case Kind::syntheticTyping:
        break;
    }
    Q_EMIT changed();
}

void SettingsModel::refreshPermissions()
{
    m_s.orchestrator->refreshPermissionStatus();
    m_microphoneGranted = m_s.microphone->isAuthorized();
    m_speechReady = m_hooks.isSpeechEngineReady && m_hooks.isSpeechEngineReady();
    Q_EMIT changed();
}

void SettingsModel::resetPermissions()
{
    // Quenda's own marks of what it asked for and what the automation probe found: with them gone, the next
    // start asks for every permission again.
    for (const QString& mark :
         {DictationOrchestrator::accessibilityPromptKey, DictationOrchestrator::inputMonitoringPromptKey,
          DictationOrchestrator::automationGrantedKey})
        m_s.defaults->remove(mark);
    log("Settings", QStringLiteral("Reset permission marks for com.quenda.Quenda"));
    m_s.defaults->setBool(permissionsWereResetKey, true);
    m_tried.clear();
    m_showRestartAlert = true;
    Q_EMIT changed();
}

void SettingsModel::restartNow()
{
    m_showRestartAlert = false;
    Q_EMIT changed();
    if (m_hooks.relaunch)
        m_hooks.relaunch();
}

void SettingsModel::dismissRestartAlert()
{
    m_showRestartAlert = false;
    Q_EMIT changed();
}

void SettingsModel::setSignInName(const QString& name)
{
    if (name == m_signInName)
        return;
    m_signInName = name;
    Q_EMIT changed();
}

void SettingsModel::setSignInEmail(const QString& email)
{
    if (email == m_signInEmail)
        return;
    m_signInEmail = email;
    Q_EMIT changed();
}

void SettingsModel::setBackendHost(const QString& host)
{
    if (host == m_backendHost)
        return;
    m_backendHost = host;
    Q_EMIT changed();
}

bool SettingsModel::canSignIn() const
{
    return !m_connecting && !m_signInName.isEmpty() && !m_signInEmail.isEmpty();
}

QString SettingsModel::signInButtonTitle() const
{
    return m_connecting ? tr("Signing in...") : tr("Sign In");
}

void SettingsModel::signIn()
{
    if (!canSignIn())
        return;
    m_connecting = true;
    m_backendError.reset();
    Q_EMIT changed();
    m_s.backend->setHost(m_backendHost);
    Scheduler* queue = m_s.mainQueue;
    auto finished = m_lifetime.guard([this](std::optional<QString> error) {
        m_connecting = false;
        if (error) {
            m_backendError = error;
        } else {
            m_backendConnected = true;
            // The token itself is a secret and stays out of the log.
            log("Settings", QStringLiteral("Connected to backend"));
        }
        Q_EMIT changed();
    });
    m_s.backend->signIn(m_signInEmail, m_signInName, [queue, finished](Result<QString> result) {
        std::optional<QString> error;
        if (!result.ok())
            error = result.error().description();
        queue->post([finished, error]() mutable { finished(error); });
    });
}

void SettingsModel::signOut()
{
    KeychainStore* keychain = m_s.keychain;
    inBackground(
        m_pool, [keychain] { keychain->remove(KeychainStore::authTokenAccount); }, [] {});
    m_s.backend->setAuthToken(std::nullopt);
    m_backendConnected = false;
    Q_EMIT changed();
}

QString SettingsModel::versionLine() const
{
    const QString version = QCoreApplication::applicationVersion();
    return tr("Quenda v%1 Beta").arg(version.isEmpty() ? QStringLiteral("?") : version);
}

void SettingsModel::registerDevTap()
{
    if (++m_devTapCount < devModeTaps)
        return;
    m_devTapCount = 0;
    m_devModeEnabled = true;
    m_s.defaults->setBool(devModeKey, true);
    Q_EMIT changed();
}

void SettingsModel::setGroqAPIKey(const QString& key)
{
    if (key == m_groqAPIKey)
        return;
    m_groqAPIKey = key;
    Q_EMIT changed();
}

void SettingsModel::saveGroqKey()
{
    // Saved as typed: no trimming, and an empty field is saved too.
    const QString key = std::exchange(m_groqAPIKey, QString());
    Q_EMIT changed();
    KeychainStore* keychain = m_s.keychain;
    inBackground(
        m_pool,
        [keychain, key] {
            keychain->save(KeychainStore::groqAccount, key);
            return !keychain->isUsingFallback();
        },
        m_lifetime.guard([this](bool inKeyring) {
            m_showKeySaved = true;
            m_keySavedInKeyring = inKeyring;
            Q_EMIT changed();
            m_s.mainQueue->postAfter(keySavedDuration, m_lifetime.guard([this] {
                m_showKeySaved = false;
                Q_EMIT changed();
            }));
            readKeyringAndLog();
        }));
}

QString SettingsModel::keySavedText() const
{
    return Wording::keySaved(m_keySavedInKeyring);
}

QString SettingsModel::lastInsertionStatus() const
{
    return m_s.orchestrator->lastInsertionStatus();
}

void SettingsModel::openTrainingLog()
{
    const QString path = m_s.trainingLog->logFileURL(); // makes its folder when missing
    if (QFileInfo::exists(path))
        m_hooks.openUrl(QUrl::fromLocalFile(path));
    else
        m_hooks.openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

void SettingsModel::exportTrainingData(const QString& path)
{
    if (path.isEmpty())
        return;
    TrainingDataLogger* trainingLog = m_s.trainingLog;
    inBackground(
        m_pool,
        [trainingLog, path] {
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                return;
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            file.write(trainingLog->exportForFineTuning().toUtf8());
            if (!file.commit())
                log("Settings", QStringLiteral("Could not write the export to ") + path);
        },
        [] {});
}

void SettingsModel::showOnboardingAgain()
{
    if (m_hooks.showOnboarding)
        m_hooks.showOnboarding();
}

} // namespace quenda
