#pragma once

#include "base/Settings.h"

#include <QObject>
#include <QStringList>

#include <functional>

namespace quenda {

class MicrophoneAuthorization;
class PermissionServices;
class Scheduler;
class UserDefaults;

// How the application starts. It drops a developer backend host that names this machine, restores the
// backend sign-in, and takes one of three paths, decided once: the first run shows onboarding, whose
// completion wires the pipeline; the first start after onboarding resets Quenda's stored permission marks
// once and relaunches; every later start wires the pipeline at once and, 1.5 s later, asks for the
// permissions still missing.
class QuendaApp : public QObject {
    Q_OBJECT
public:
    enum class StartPath { onboarding, migration, normal };

    static inline const QString onboardedKey = settings::hasCompletedOnboarding.key();
    static inline const QString migratedKey = settings::entitlementsMigration.key();
    static inline const QString permissionsWereResetKey = settings::permissionsWereReset.key();
    static inline const QString developerHostKey = settings::backendHost.key();
    static constexpr double permissionRequestDelay = 1.5;
    static constexpr double relaunchQuitDelay = 0.5;
    // What the one-time migration resets: the marks of the prompts already shown and of the automation
    // grant, so that every permission is asked for afresh.
    static const QStringList& permissionMarks();

    struct Hooks {
        std::function<void()> restoreBackendToken;
        std::function<void()> configurePipeline;
        // Shows onboarding; the completion runs once the user has finished it.
        std::function<void(std::function<void()> completion)> showOnboarding;
        // Starts a fresh instance of the application (a failure is ignored), and ends this one.
        std::function<void()> startFreshInstance;
        std::function<void()> terminate;
    };

    QuendaApp(Scheduler& mainQueue, UserDefaults& defaults, MicrophoneAuthorization& microphone,
              PermissionServices& permissions, Hooks hooks, QObject* parent = nullptr);

    StartPath start();
    // Starts a fresh instance, and ends this one half a second later (also after a reset in the settings).
    void relaunch();

private:
    void runMigration();
    void requestStartupPermissions();
    void requestAccessibilityAndInputMonitoring();

    Scheduler& m_mainQueue;
    UserDefaults& m_defaults;
    MicrophoneAuthorization& m_microphone;
    PermissionServices& m_permissions;
    Hooks m_hooks;
};

} // namespace quenda
