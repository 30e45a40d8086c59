#include "app/QuendaApp.h"

#include "base/Log.h"
#include "base/Scheduler.h"
#include "base/UserDefaults.h"
#include "platform/MicrophoneAuthorization.h"
#include "platform/PermissionServices.h"

#include <QHostAddress>
#include <QPointer>
#include <QUrl>

namespace quenda {

namespace {
// A backend host on this very machine is a developer's, and never right for the next start.
bool namesThisMachine(const QString& host)
{
    if (host.contains(QLatin1String("localhost"), Qt::CaseInsensitive))
        return true;
    const QUrl url = QUrl::fromUserInput(host);
    return QHostAddress(url.host()).isLoopback();
}
} // namespace

const QStringList& QuendaApp::permissionMarks()
{
    static const QStringList marks{QStringLiteral("permissions.prompted.accessibility"),
                                   QStringLiteral("permissions.prompted.inputMonitoring"),
                                   QStringLiteral("permissions.granted.automation.systemEvents")};
    return marks;
}

QuendaApp::QuendaApp(Scheduler& mainQueue, UserDefaults& defaults, MicrophoneAuthorization& microphone,
                     PermissionServices& permissions, Hooks hooks, QObject* parent)
    : QObject(parent)
    , m_mainQueue(mainQueue)
    , m_defaults(defaults)
    , m_microphone(microphone)
    , m_permissions(permissions)
    , m_hooks(std::move(hooks))
{}

QuendaApp::StartPath QuendaApp::start()
{
    if (const std::optional<QString> host = m_defaults.stringValue(developerHostKey);
        host && namesThisMachine(*host))
        m_defaults.remove(developerHostKey);
    m_hooks.restoreBackendToken();

    QPointer<QuendaApp> self(this);
    if (!m_defaults.boolForKey(onboardedKey)) {
        m_mainQueue.post([self] {
            if (self)
                self->m_hooks.showOnboarding([self] {
                    if (self)
                        self->m_hooks.configurePipeline();
                });
        });
        return StartPath::onboarding;
    }
    if (!m_defaults.boolForKey(migratedKey)) {
        runMigration();
        return StartPath::migration;
    }
    if (m_defaults.boolForKey(permissionsWereResetKey))
        m_defaults.remove(permissionsWereResetKey);
    m_mainQueue.postAfter(permissionRequestDelay, [self] {
        if (self)
            self->requestStartupPermissions();
    });
    m_mainQueue.post([self] {
        if (self)
            self->m_hooks.configurePipeline();
    });
    return StartPath::normal;
}

void QuendaApp::runMigration()
{
    m_defaults.setBool(migratedKey, true);
    m_defaults.setBool(permissionsWereResetKey, true);
    for (const QString& mark : permissionMarks())
        m_defaults.remove(mark);
    log("QuendaApp", QStringLiteral("Entitlements migration: reset permission marks, restarting..."));
    QPointer<QuendaApp> self(this);
    m_mainQueue.post([self] {
        if (self)
            self->relaunch();
    });
}

void QuendaApp::relaunch()
{
    m_hooks.startFreshInstance();
    QPointer<QuendaApp> self(this);
    m_mainQueue.postAfter(relaunchQuitDelay, [self] {
        if (self)
            self->m_hooks.terminate();
    });
}

void QuendaApp::requestStartupPermissions()
{
    // Each request is made only while its permission is missing, strictly one after another; what the user
    // answers is not examined. Speech engines on Linux need no permission of their own.
    if (m_microphone.isAuthorized())
        return requestAccessibilityAndInputMonitoring();
    log("QuendaApp", QStringLiteral("Requesting microphone access..."));
    QPointer<QuendaApp> self(this);
    Scheduler* mainQueue = &m_mainQueue;
    m_microphone.requestAccess([self, mainQueue](bool) {
        mainQueue->post([self] {
            if (self)
                self->requestAccessibilityAndInputMonitoring();
        });
    });
}

void QuendaApp::requestAccessibilityAndInputMonitoring()
{
    if (!m_permissions.isAccessibilityTrusted()) {
        log("QuendaApp", QStringLiteral("Requesting accessibility..."));
        m_permissions.promptForAccessibility();
    }
    if (!m_permissions.canListenToEvents()) {
        log("QuendaApp", QStringLiteral("Requesting input monitoring..."));
        m_permissions.requestListenAccess();
    }
}

} // namespace quenda
