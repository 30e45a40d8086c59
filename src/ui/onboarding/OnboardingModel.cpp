#include "ui/onboarding/OnboardingModel.h"

#include "base/Log.h"
#include "base/UserDefaults.h"
#include "base/Wording.h"
#include "net/QuendaAPIClient.h"
#include "platform/MicrophoneAuthorization.h"
#include "platform/PermissionServices.h"
#include "training/TrainingLog.h"
#include "ui/settings/SpeechSettingsModel.h"

namespace quenda {

namespace {
QString flag(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}
} // namespace

OnboardingModel::OnboardingModel(const Services& services, Hooks hooks, QObject* parent)
    : QObject(parent)
    , m_s(services)
    , m_hooks(std::move(hooks))
{
    // A finished download makes the speech engine ready: the row turns green without waiting for the poll.
    if (m_s.speech)
        connect(m_s.speech, &SpeechSettingsModel::changed, this, [this] {
            if (!m_s.speech->isDownloading())
                checkPermissions();
            Q_EMIT changed();
        });
}

bool OnboardingModel::offersSpeechModel() const
{
    return m_s.speech && (m_s.speech->needsModel() || m_s.speech->isDownloading());
}

QString OnboardingModel::speechModelOffer() const
{
    if (!m_s.speech)
        return {};
    return tr("Download Whisper Model (%1)").arg(m_s.speech->sizeText(m_s.speech->recommendedModel()));
}

void OnboardingModel::downloadSpeechModel()
{
    if (m_s.speech && m_s.speech->needsModel())
        m_s.speech->download(m_s.speech->recommendedModel());
}

void OnboardingModel::restart()
{
    m_finished = false;
    m_step = Step::welcome;
    m_name.clear();
    m_email.clear();
    m_error.reset();
    m_isSigningIn = false;
    m_autoUpdate = true;
    m_launchAtLogin = true;
    m_tried.clear();
    updatePolling();
    Q_EMIT changed();
}

void OnboardingModel::back()
{
    goTo(m_step == Step::signIn ? Step::permissions : Step::welcome);
}

void OnboardingModel::goTo(Step step)
{
    if (step == m_step)
        return;
    m_step = step;
    updatePolling();
    Q_EMIT changed();
}

void OnboardingModel::setVisible(bool visible)
{
    m_visible = visible;
    updatePolling();
}

void OnboardingModel::updatePolling()
{
    const bool wanted = m_visible && m_step == Step::permissions && !m_finished;
    if (wanted == isPolling())
        return;
    if (!wanted) {
        m_pollTimer.cancel();
        m_pollTimer = TaskHandle();
        return;
    }
    // Showing the page (or coming back to it) checks at once, then every two seconds.
    checkPermissions();
    schedulePoll();
}

void OnboardingModel::schedulePoll()
{
    m_pollTimer = m_s.mainQueue->postAfter(pollInterval, m_lifetime.guard([this] {
        checkPermissions();
        schedulePoll();
    }));
}

void OnboardingModel::applicationActivated()
{
    if (isPolling())
        checkPermissions();
}

QString OnboardingModel::holdToDictateText() const
{
    return Wording::holdToDictateFeature(m_hooks.fnKeyName);
}

QString OnboardingModel::inputMonitoringReason() const
{
    return Wording::inputMonitoringReason(m_hooks.fnKeyName);
}

bool OnboardingModel::isGranted(Permission permission) const
{
    switch (permission) {
    case Permission::microphone:
        return m_micGranted;
    case Permission::speechRecognition:
        return m_speechGranted;
    case Permission::accessibility:
        return m_accessibilityGranted;
    case Permission::inputMonitoring:
        return m_inputMonitoringGranted;
    }
    return false;
}

void OnboardingModel::checkPermissions()
{
    const bool mic = m_s.microphone->isAuthorized();
    const bool speech = m_hooks.isSpeechEngineReady && m_hooks.isSpeechEngineReady();
    const bool ax = m_s.permissions->isAccessibilityTrusted();
    const bool input = m_s.permissions->canListenToEvents();
    if (mic == m_micGranted && speech == m_speechGranted && ax == m_accessibilityGranted &&
        input == m_inputMonitoringGranted)
        return;
    log("Permissions", QStringLiteral("mic=%1 speech=%2 ax=%3 input=%4")
                           .arg(flag(mic), flag(speech), flag(ax), flag(input)));
    m_micGranted = mic;
    m_speechGranted = speech;
    m_accessibilityGranted = ax;
    m_inputMonitoringGranted = input;
    Q_EMIT changed();
}

void OnboardingModel::allow(Permission permission)
{
    using Pane = PermissionServices::SettingsPane;
    m_tried.insert(permission);
    PermissionServices& permissions = *m_s.permissions;
    switch (permission) {
    case Permission::microphone:
        m_s.microphone->requestAccess(
            [queue = m_s.mainQueue, answered = m_lifetime.guard([this](bool granted) {
                m_micGranted = granted;
                if (!granted)
                    m_s.permissions->openSettingsPane(Pane::microphone);
                Q_EMIT changed();
            })](bool granted) { queue->post([answered, granted]() mutable { answered(granted); }); });
        break;
    case Permission::speechRecognition:
        // No one grants speech recognition on Linux: the engine is ready (its model installed, its service
        // named) or it is not.
        m_speechGranted = m_hooks.isSpeechEngineReady && m_hooks.isSpeechEngineReady();
        if (!m_speechGranted)
            permissions.openSettingsPane(Pane::speechRecognition);
        break;
    case Permission::accessibility:
        // Asking turns the accessibility bus on.
        permissions.promptForAccessibility();
        checkPermissions();
        if (!m_accessibilityGranted)
            permissions.openSettingsPane(Pane::accessibility);
        break;
    case Permission::inputMonitoring:
        permissions.requestListenAccess();
        checkPermissions();
        if (!m_inputMonitoringGranted)
            permissions.openSettingsPane(Pane::inputMonitoring);
        break;
    }
    Q_EMIT changed();
}

QString OnboardingModel::help(Permission permission) const
{
    if (isGranted(permission) || !m_tried.count(permission))
        return {};
    switch (permission) {
    case Permission::microphone:
        return Wording::permissionHelp(Wording::Permission::microphone);
    case Permission::speechRecognition:
        return Wording::permissionHelp(Wording::Permission::speechRecognition);
    case Permission::accessibility:
        return Wording::permissionHelp(Wording::Permission::accessibility);
    case Permission::inputMonitoring:
        return Wording::permissionHelp(Wording::Permission::inputMonitoring);
    }
    return {};
}

void OnboardingModel::setName(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    Q_EMIT changed();
}

void OnboardingModel::setEmail(const QString& email)
{
    if (email == m_email)
        return;
    m_email = email;
    Q_EMIT changed();
}

void OnboardingModel::setAutoUpdate(bool on)
{
    m_autoUpdate = on;
    Q_EMIT changed();
}

void OnboardingModel::setLaunchAtLogin(bool on)
{
    m_launchAtLogin = on;
    Q_EMIT changed();
}

bool OnboardingModel::canSignIn() const
{
    return !m_isSigningIn && !m_name.isEmpty() && !m_email.isEmpty();
}

void OnboardingModel::signIn()
{
    if (!canSignIn())
        return;
    m_isSigningIn = true;
    m_error.reset();
    Q_EMIT changed();
    Scheduler* queue = m_s.mainQueue;
    TrainingLog* trainingLog = m_s.trainingLog;
    auto failed = m_lifetime.guard([this] {
        // Whatever went wrong, the user reads one sentence and may try again.
        m_error = tr("Could not connect. Is the server running?");
        m_isSigningIn = false;
        Q_EMIT changed();
    });
    auto synced = m_lifetime.guard([this] { finishWithAccount(); });
    m_s.backend->signIn(m_email, m_name, [queue, trainingLog, failed, synced](Result<QString> result) {
        if (!result.ok()) {
            queue->post(failed);
            return;
        }
        queue->post([queue, trainingLog, synced] {
            trainingLog->syncIfNeeded(true, [queue, synced] { queue->post(synced); });
        });
    });
}

void OnboardingModel::finishWithAccount()
{
    m_s.defaults->setBool(onboardedKey, true);
    m_s.defaults->setString(userNameKey, m_name);
    m_s.defaults->setString(userEmailKey, m_email);
    m_s.defaults->setBool(automaticChecksKey, m_autoUpdate);
    finish();
}

void OnboardingModel::skip()
{
    // The name and e-mail are not kept when the user skips.
    m_s.defaults->setBool(onboardedKey, true);
    m_s.defaults->setBool(automaticChecksKey, m_autoUpdate);
    finish();
}

void OnboardingModel::finish()
{
    if (m_launchAtLogin && m_hooks.enableLaunchAtLogin)
        m_hooks.enableLaunchAtLogin();
    m_isSigningIn = false;
    m_finished = true;
    updatePolling();
    Q_EMIT changed();
    if (m_hooks.onComplete)
        m_s.mainQueue->post(m_lifetime.guard([this] { m_hooks.onComplete(); }));
}

} // namespace quenda
