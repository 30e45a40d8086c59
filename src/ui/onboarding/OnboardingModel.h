#pragma once

#include "base/Lifetime.h"
#include "base/Scheduler.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <set>

namespace quenda {

class MicrophoneAuthorization;
class PermissionServices;
class QuendaAPIClient;
class SpeechSettingsModel;
class TrainingLog;
class UserDefaults;

// The first run, in three steps: welcome, the four permissions with their live state (checked every two
// seconds while that page shows, and whenever Quenda becomes active), and the account with the two
// switches for automatic updates and launch at login. Signing in or skipping records the choices and
// finishes; closing the window finishes nothing.
class OnboardingModel : public QObject {
    Q_OBJECT
public:
    enum class Step { welcome, permissions, signIn };
    enum class Permission { microphone, speechRecognition, accessibility, inputMonitoring };

    static constexpr double pollInterval = 2.0;
    static inline const QString onboardedKey = QStringLiteral("hasCompletedOnboarding");
    static inline const QString automaticChecksKey = QStringLiteral("SUEnableAutomaticChecks");
    static inline const QString userNameKey = QStringLiteral("userName");
    static inline const QString userEmailKey = QStringLiteral("userEmail");

    struct Services {
        Scheduler* mainQueue = nullptr;
        UserDefaults* defaults = nullptr;
        QuendaAPIClient* backend = nullptr;
        TrainingLog* trainingLog = nullptr;
        MicrophoneAuthorization* microphone = nullptr;
        PermissionServices* permissions = nullptr;
        // Offers the whisper model download on the speech row; none: no offer.
        SpeechSettingsModel* speech = nullptr;
    };
    struct Hooks {
        std::function<bool()> isSpeechEngineReady;
        std::function<void()> enableLaunchAtLogin;
        QString fnKeyName; // the key that plays the Fn role, "Right Ctrl"
        // Onboarding ended (signed in or skipped); runs on the main queue's next turn.
        std::function<void()> onComplete;
    };

    OnboardingModel(const Services& services, Hooks hooks, QObject* parent = nullptr);

    // Back to the welcome page with empty fields, for a new run ("Re-run Setup").
    void restart();
    bool isFinished() const { return m_finished; }

    Step step() const { return m_step; }
    void getStarted() { goTo(Step::permissions); }
    void continueToSignIn() { goTo(Step::signIn); }
    void back();
    // The window shows or goes away: the permission page polls only while it is on screen.
    void setVisible(bool visible);
    // Quenda became the active application.
    void applicationActivated();

    // Texts that name the key playing the Fn role.
    QString holdToDictateText() const;
    QString inputMonitoringReason() const;

    bool isGranted(Permission permission) const;
    void allow(Permission permission);
    // What to do when Allow could not grant the permission; empty otherwise.
    QString help(Permission permission) const;
    void checkPermissions();

    // Whisper is chosen and has no model (or one is coming): the speech row offers the download.
    bool offersSpeechModel() const;
    QString speechModelOffer() const; // the button: "Download Whisper Model (148 MB)"
    void downloadSpeechModel();
    const SpeechSettingsModel* speech() const { return m_s.speech; }
    bool isPolling() const { return m_pollTimer.isValid() && !m_pollTimer.isCancelled(); }

    const QString& name() const { return m_name; }
    const QString& email() const { return m_email; }
    void setName(const QString& name);
    void setEmail(const QString& email);
    bool autoUpdate() const { return m_autoUpdate; }
    void setAutoUpdate(bool on);
    bool launchAtLogin() const { return m_launchAtLogin; }
    void setLaunchAtLogin(bool on);
    bool isSigningIn() const { return m_isSigningIn; }
    const std::optional<QString>& error() const { return m_error; }
    bool canSignIn() const;
    // Drawn at 0.6 opacity while a field is empty; not while signing in with both filled.
    bool isSignInDimmed() const { return m_name.isEmpty() || m_email.isEmpty(); }
    void signIn();
    void skip();

Q_SIGNALS:
    void changed();

private:
    void goTo(Step step);
    void updatePolling();
    void schedulePoll();
    void finishWithAccount();
    void finish();

    Services m_s;
    Hooks m_hooks;
    Step m_step = Step::welcome;
    bool m_visible = false;
    QString m_name;
    QString m_email;
    bool m_isSigningIn = false;
    std::optional<QString> m_error;
    bool m_autoUpdate = true;
    bool m_launchAtLogin = true;
    bool m_micGranted = false;
    bool m_speechGranted = false;
    bool m_accessibilityGranted = false;
    bool m_inputMonitoringGranted = false;
    std::set<Permission> m_tried;
    TaskHandle m_pollTimer;
    bool m_finished = false;
    Lifetime m_lifetime;
};

} // namespace quenda
