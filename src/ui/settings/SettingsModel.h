#pragma once

#include "base/Lifetime.h"
#include "capture/HotkeyManager.h"
#include "ui/settings/PermissionRow.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QUrl>

#include <functional>
#include <optional>
#include <set>

namespace quenda {

class DictationOrchestrator;
class KeychainStore;
class MicrophoneAuthorization;
class PermissionServices;
class QuendaAPIClient;
class Scheduler;
class TrainingDataLogger;
class UserDefaults;

// The settings window's state and actions, in seven sections: activation (hotkey mode, listener, launch at
// login), permissions, the backend account, the user's own Groq key (developer mode), the last insertion
// status, the training data, and about. It keeps no lasting data of its own: it reads and drives the
// pipeline's services. Reads of the keyring and of the training log run off the main thread.
class SettingsModel : public QObject {
    Q_OBJECT
public:
    static constexpr int devModeTaps = 7;
    static constexpr double keySavedDuration = 2.0;
    static inline const QString devModeKey = QStringLiteral("devMode");
    static inline const QString permissionsWereResetKey = QStringLiteral("permissionsWereReset");
    static inline const QString exportFileName = QStringLiteral("quenda-training-data.jsonl");

    struct Services {
        Scheduler* mainQueue = nullptr;
        UserDefaults* defaults = nullptr;
        DictationOrchestrator* orchestrator = nullptr;
        HotkeyManager* hotkey = nullptr;
        MicrophoneAuthorization* microphone = nullptr;
        PermissionServices* permissions = nullptr;
        QuendaAPIClient* backend = nullptr;
        KeychainStore* keychain = nullptr;
        TrainingDataLogger* trainingLog = nullptr;
    };
    // What the application around the window does.
    struct Hooks {
        std::function<bool()> isLaunchAtLoginEnabled;
        std::function<void(bool on)> setLaunchAtLogin;
        std::function<bool()> isSpeechEngineReady;
        std::function<void(const QUrl& url)> openUrl; // a file in its default application, or a folder
        std::function<void()> relaunch;
        std::function<void()> showOnboarding;
    };

    SettingsModel(const Services& services, Hooks hooks, QObject* parent = nullptr);
    ~SettingsModel() override;

    // The window is shown, or the application became active: every state is read afresh.
    void refresh();

    // Activation.
    HotkeyMode mode() const { return m_s.hotkey->mode(); }
    void setMode(HotkeyMode mode);
    bool isListening() const { return m_s.hotkey->isListening(); }
    std::optional<QString> listenerErrorMessage() const { return m_s.hotkey->listenerErrorMessage(); }
    void retryHotkeyListener();
    bool launchAtLogin() const { return m_launchAtLogin; }
    void setLaunchAtLogin(bool on);

    // Permissions.
    QList<PermissionRow> permissionRows() const;
    void runPermissionAction(PermissionRow::Kind kind);
    void refreshPermissions();
    void resetPermissions();
    bool showRestartAlert() const { return m_showRestartAlert; }
    void restartNow();
    void dismissRestartAlert();

    // Account.
    bool backendConnected() const { return m_backendConnected; }
    bool connectingToBackend() const { return m_connecting; }
    const std::optional<QString>& backendError() const { return m_backendError; }
    const QString& signInName() const { return m_signInName; }
    const QString& signInEmail() const { return m_signInEmail; }
    void setSignInName(const QString& name);
    void setSignInEmail(const QString& email);
    // The backend's origin, changed in developer mode; the sign-in stores it.
    const QString& backendHost() const { return m_backendHost; }
    void setBackendHost(const QString& host);
    bool canSignIn() const;
    QString signInButtonTitle() const;
    void signIn();
    void signOut();

    // Developer mode and the Groq key.
    bool devModeEnabled() const { return m_devModeEnabled; }
    QString versionLine() const;
    void registerDevTap();
    const QString& groqAPIKey() const { return m_groqAPIKey; }
    void setGroqAPIKey(const QString& key);
    void saveGroqKey();
    bool showKeySaved() const { return m_showKeySaved; }
    QString keySavedText() const;
    bool groqKeyConfigured() const { return m_groqKeyConfigured; }

    // Diagnostics and training data.
    QString lastInsertionStatus() const;
    int pairsCollected() const { return m_pairsCollected; }
    int correctionsFlagged() const { return m_correctionsFlagged; }
    void openTrainingLog();
    // The text to export, and where it goes once the user chose (written atomically, readable by the user
    // only; a failure is ignored).
    void exportTrainingData(const QString& path);

    void showOnboardingAgain();

    // Waits for the keyring and training-log work under way (tests).
    void waitForBackgroundWork() { m_pool.waitForDone(); }

Q_SIGNALS:
    void changed();

private:
    void readKeyringAndLog();
    void setConnected(bool connected);

    Services m_s;
    Hooks m_hooks;
    bool m_launchAtLogin = false;
    bool m_microphoneGranted = false;
    bool m_speechReady = false;
    std::set<PermissionRow::Kind> m_tried;
    bool m_showRestartAlert = false;
    bool m_backendConnected = false;
    bool m_connecting = false;
    std::optional<QString> m_backendError;
    QString m_backendHost;
    QString m_signInName;
    QString m_signInEmail;
    bool m_devModeEnabled = false;
    int m_devTapCount = 0;
    QString m_groqAPIKey;
    bool m_showKeySaved = false;
    bool m_keySavedInKeyring = true;
    bool m_groqKeyConfigured = false;
    int m_pairsCollected = 0;
    int m_correctionsFlagged = 0;
    QThreadPool m_pool; // the keyring and the training log are read here; its jobs end with the model
    Lifetime m_lifetime;
};

} // namespace quenda
