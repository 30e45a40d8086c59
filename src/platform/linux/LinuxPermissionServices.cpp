#include "platform/linux/LinuxPermissionServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QThreadPool>

namespace quenda {

namespace {

constexpr int busTimeoutMsec = 1000;

QDBusMessage statusCall(const QString& method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                          QStringLiteral("org.freedesktop.DBus.Properties"), method);
}

} // namespace

LinuxPermissionServices::LinuxPermissionServices(AutomationHelper& automation)
    : m_automation(automation)
    , m_context(std::make_unique<QObject>())
{
    refreshAccessibility(); // the answer is in before anyone has had time to ask
}

LinuxPermissionServices::~LinuxPermissionServices() = default;

bool LinuxPermissionServices::isAccessibilityTrusted() const
{
    refreshAccessibility();
    return m_accessibilityEnabled;
}

void LinuxPermissionServices::setOnAccessibilityChanged(std::function<void()> changed)
{
    m_onAccessibilityChanged = std::move(changed);
}

void LinuxPermissionServices::refreshAccessibility() const
{
    if (m_asking)
        return;
    m_asking = true;
    QDBusMessage call = statusCall(QStringLiteral("Get"));
    call << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled");
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, busTimeoutMsec),
                                                m_context.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_context.get(),
                     [this](QDBusPendingCallWatcher* answered) {
                         answered->deleteLater();
                         m_asking = false;
                         const QDBusPendingReply<QDBusVariant> reply = *answered;
                         // No bus, or no answer in time: nobody can read other applications' fields.
                         noteAccessibility(reply.isValid() && reply.value().variant().toBool());
                     });
}

void LinuxPermissionServices::noteAccessibility(bool enabled) const
{
    if (enabled == m_accessibilityEnabled)
        return;
    m_accessibilityEnabled = enabled;
    if (m_onAccessibilityChanged)
        m_onAccessibilityChanged();
}

void LinuxPermissionServices::promptForAccessibility()
{
    // Applications read the flag when they start: those already running pick it up at their next start.
    QDBusMessage call = statusCall(QStringLiteral("Set"));
    call << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled")
         << QVariant::fromValue(QDBusVariant(true));
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, busTimeoutMsec),
                                                m_context.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_context.get(),
                     [this](QDBusPendingCallWatcher* answered) {
                         answered->deleteLater();
                         refreshAccessibility();
                     });
}

bool LinuxPermissionServices::canListenToEvents() const
{
    return m_x.hasXInput2();
}

bool LinuxPermissionServices::canPostEvents() const
{
    return m_x.hasXTest();
}

void LinuxPermissionServices::probeAutomation(std::function<void(bool)> done)
{
    AutomationHelper* helper = &m_automation;
    QThreadPool::globalInstance()->start([helper, done = std::move(done)] {
        const bool succeeded = helper->probe();
        if (done)
            done(succeeded);
    });
}

QString LinuxPermissionServices::helpAnchor(SettingsPane pane)
{
    switch (pane) {
    case SettingsPane::accessibility:
        return QStringLiteral("accessibility");
    case SettingsPane::inputMonitoring:
        return QStringLiteral("input-monitoring");
    case SettingsPane::microphone:
        return QStringLiteral("microphone");
    case SettingsPane::speechRecognition:
        return QStringLiteral("speech-recognition");
    }
    return {};
}

QStringList LinuxPermissionServices::settingsCommand(const QString& desktop, SettingsPane pane)
{
    const QStringList names = desktop.toLower().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    auto is = [&names](const char* name) { return names.contains(QLatin1String(name)); };
    if (is("gnome") || is("unity") || is("budgie") || is("ubuntu")) {
        switch (pane) {
        case SettingsPane::accessibility:
            return {QStringLiteral("gnome-control-center"), QStringLiteral("universal-access")};
        case SettingsPane::inputMonitoring:
            return {QStringLiteral("gnome-control-center"), QStringLiteral("keyboard")};
        case SettingsPane::microphone:
            return {QStringLiteral("gnome-control-center"), QStringLiteral("sound")};
        case SettingsPane::speechRecognition:
            return {};
        }
    }
    if (is("kde")) {
        switch (pane) {
        case SettingsPane::accessibility:
            return {QStringLiteral("systemsettings"), QStringLiteral("kcm_access")};
        case SettingsPane::inputMonitoring:
            return {QStringLiteral("systemsettings"), QStringLiteral("kcm_keys")};
        case SettingsPane::microphone:
            return {QStringLiteral("systemsettings"), QStringLiteral("kcm_pulseaudio")};
        case SettingsPane::speechRecognition:
            return {};
        }
    }
    if (is("xfce")) {
        switch (pane) {
        case SettingsPane::accessibility:
            return {QStringLiteral("xfce4-accessibility-settings")};
        case SettingsPane::inputMonitoring:
            return {QStringLiteral("xfce4-keyboard-settings")};
        case SettingsPane::microphone:
            return {QStringLiteral("pavucontrol"), QStringLiteral("--tab=4")};
        case SettingsPane::speechRecognition:
            return {};
        }
    }
    if (pane == SettingsPane::microphone)
        return {QStringLiteral("pavucontrol"), QStringLiteral("--tab=4")}; // the input devices tab
    return {};
}

bool LinuxPermissionServices::openSettingsPane(SettingsPane pane)
{
    const QStringList command = settingsCommand(qEnvironmentVariable("XDG_CURRENT_DESKTOP"), pane);
    if (!command.isEmpty() && !QStandardPaths::findExecutable(command.first()).isEmpty() &&
        QProcess::startDetached(command.first(), command.mid(1)))
        return true;
    // No settings of the desktop's own: our help page explains what to change.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    return !opener.isEmpty() &&
           QProcess::startDetached(opener, {helpPage + QLatin1Char('#') + helpAnchor(pane)});
}

} // namespace quenda
