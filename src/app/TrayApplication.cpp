#include "app/TrayApplication.h"

#include "app/AppServices.h"
#include "app/AppWindows.h"
#include "app/FloatingPillWindow.h"
#include "app/LaunchAtLogin.h"
#include "app/QuendaApp.h"
#include "app/RemoteControl.h"
#include "app/SingleInstance.h"
#include "app/TrayIcon.h"
#include "app/TrayMenuModel.h"
#include "app/UpdateChecker.h"
#include "app/WindowRouter.h"
#include "base/Log.h"
#include "base/UserDefaults.h"
#include "capture/HotkeyManager.h"
#include "core/DictationOrchestrator.h"
#include "net/QuendaAPIClient.h"
#include "platform/DesktopServices.h"
#include "platform/linux/LinuxTrayHost.h"
#include "platform/linux/X11Compositor.h"
#include "platform/linux/X11WindowActivation.h"
#include "platform/linux/XdgAutostartEntry.h"
#include "text/TextEnhancer.h"
#include "training/TrainingDataLogger.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>

#include <csignal>

#ifndef QUENDA_UPDATE_FEED_URL
#define QUENDA_UPDATE_FEED_URL ""
#endif

namespace quenda {

struct TrayApplication::Parts {
    X11Compositor compositor;
    X11WindowActivation activation;
    LinuxTrayHost trayHost;
    std::unique_ptr<XdgAutostartEntry> autostart;
    std::unique_ptr<LaunchAtLogin> launchAtLogin;
    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<RemoteControl> remote;
    std::unique_ptr<UpdateChecker> updater;
    std::unique_ptr<TrayMenuModel> menu;
    std::unique_ptr<TrayIcon> tray;
    std::unique_ptr<WindowRouter> router;
    std::unique_ptr<QuendaApp> startup;
    std::function<void()> onboardingDone;
};

TrayApplication::TrayApplication(AppServices& services, QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_parts(std::make_unique<Parts>())
{}

TrayApplication::~TrayApplication()
{
    // The windows and the tray go before the pipeline they show.
    m_parts.reset();
}

int TrayApplication::run(const QStringList& arguments)
{
    QTextStream err(stderr);
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        err << "Quenda needs a graphical session (DISPLAY is not set). `quenda help` lists what works "
               "without one.\n";
        return 1;
    }
    // A relaunched instance inherits the old one's standard output, whose reader may be gone: a log line
    // must then fail quietly instead of ending the process.
    std::signal(SIGPIPE, SIG_IGN);
    const bool relaunched = arguments.contains(relaunchedArgument);
    m_parts->instance = std::make_unique<SingleInstance>(QDBusConnection::sessionBus());
    switch (m_parts->instance->claim(relaunched)) {
    case SingleInstance::Claim::AlreadyRunning:
        handOver();
        return 0;
    case SingleInstance::Claim::NoBus:
        log("QuendaApp", QStringLiteral("No session bus: running without the remote control"));
        break;
    case SingleInstance::Claim::Waiting: {
        QEventLoop wait;
        bool acquired = false;
        connect(m_parts->instance.get(), &SingleInstance::acquired, &wait, [&] {
            acquired = true;
            wait.quit();
        });
        connect(m_parts->instance.get(), &SingleInstance::gaveUp, &wait, &QEventLoop::quit);
        wait.exec();
        if (!acquired) {
            err << "The previous Quenda did not quit; this one ends.\n";
            return 1;
        }
        break;
    }
    case SingleInstance::Claim::Owner:
        break;
    }
    // A tray application lives on when its last window closes; only Quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!build()) {
        err << "Quenda cannot reach the X11 display.\n";
        return 1;
    }
    const int status = QApplication::exec();
    log("QuendaApp", QStringLiteral("Quitting"));
    return status;
}

void TrayApplication::handOver()
{
    // Starting Quenda again from the applications menu shows the running one's settings.
    QDBusMessage open =
        QDBusMessage::createMethodCall(RemoteControl::serviceName, RemoteControl::objectPath,
                                       RemoteControl::interfaceName, QStringLiteral("OpenWindow"));
    open << QStringLiteral("settings");
    QDBusConnection::sessionBus().call(open, QDBus::Block, 5000);
    QTextStream(stdout) << "Quenda is already running; its settings are open.\n";
}

bool TrayApplication::build()
{
    Parts& p = *m_parts;
    Parts* parts = m_parts.get();
    m_services.setPillFactory([parts]() -> std::unique_ptr<PillPresenter> {
        return std::make_unique<FloatingPillWindow>([parts] { return parts->compositor.isRunning(); });
    });
    DictationPipeline* pipeline = m_services.pipeline();
    if (!pipeline)
        return false;
    DictationOrchestrator& orchestrator = pipeline->orchestrator();
    HotkeyManager& hotkey = pipeline->hotkeyManager();
    UserDefaults& defaults = m_services.defaults();

    p.autostart = std::make_unique<XdgAutostartEntry>(QCoreApplication::applicationFilePath());
    p.launchAtLogin = std::make_unique<LaunchAtLogin>(*p.autostart);
    p.updater = std::make_unique<UpdateChecker>(m_services.mainQueue(), defaults,
                                                QCoreApplication::applicationVersion(),
                                                QUrl(QStringLiteral(QUENDA_UPDATE_FEED_URL)));
    p.router = std::make_unique<WindowRouter>(p.activation);

    // The remote control's requests go the hotkey's way, so a press of the key afterwards does the opposite.
    RemoteControl::Actions remote;
    remote.start = [&hotkey] { hotkey.requestStart(); };
    remote.stop = [&hotkey] { hotkey.requestStop(); };
    remote.toggle = [&hotkey, &orchestrator] {
        orchestrator.state().isListening() ? hotkey.requestStop() : hotkey.requestStart();
    };
    remote.openWindow = [parts](const QString& id) { parts->router->open(id); };
    remote.quit = [] { QApplication::quit(); };
    p.remote = std::make_unique<RemoteControl>(QDBusConnection::sessionBus(), remote);
    if (p.instance->isOwner())
        p.remote->exportObject();

    TrayMenuModel::Actions menu;
    menu.copyToClipboard = [](const QString& text) {
        QGuiApplication::clipboard()->clear();
        QGuiApplication::clipboard()->setText(text);
    };
    menu.flag = [&orchestrator](const DictationResult& dictation) {
        orchestrator.setFlaggedDictation(dictation);
    };
    menu.retryHotkey = [&orchestrator] { orchestrator.configurePipeline(); };
    menu.openWindow = [parts](const QString& id) { parts->router->open(id); };
    menu.checkForUpdates = [parts] { parts->updater->checkForUpdates(); };
    menu.quit = [] { QApplication::quit(); };
    p.menu = std::make_unique<TrayMenuModel>(menu);
    p.tray = std::make_unique<TrayIcon>(*p.menu, p.trayHost);

    // The menu and the icon follow the pipeline and the updater.
    auto followHotkey = [parts, &hotkey] { parts->menu->setHotkeyListening(hotkey.isListening()); };
    connect(&hotkey, &HotkeyManager::stateChanged, this, followHotkey);
    connect(&orchestrator, &DictationOrchestrator::recentDictationsChanged, this,
            [parts, &orchestrator] { parts->menu->setRecentDictations(orchestrator.recentDictations()); });
    connect(&orchestrator, &DictationOrchestrator::stateChanged, this, [parts, &orchestrator] {
        parts->tray->setState(orchestrator.state());
        parts->remote->setState(orchestrator.state());
    });
    // The insertion's outcome, for whoever reads the log (the settings show the latest one).
    connect(&orchestrator, &DictationOrchestrator::lastInsertionStatusChanged, this, [&orchestrator] {
        log("QuendaApp", QStringLiteral("Insertion: ") + orchestrator.lastInsertionStatus());
    });
    connect(p.updater.get(), &UpdateChecker::canCheckForUpdatesChanged, this,
            [parts](bool canCheck) { parts->menu->setCanCheckForUpdates(canCheck); });
    connect(p.updater.get(), &UpdateChecker::checkFinished, this,
            [this](const UpdateCheckResult& result, bool manual) { showUpdateResult(result, manual); });
    followHotkey();
    p.menu->setCanCheckForUpdates(p.updater->canCheckForUpdates());

    addWindows(orchestrator);

    QuendaApp::Hooks hooks;
    hooks.restoreBackendToken = [this] { m_services.textEnhancer().reloadStoredCredentials(); };
    hooks.configurePipeline = [&orchestrator] { orchestrator.configurePipeline(); };
    hooks.showOnboarding = [parts](std::function<void()> completion) {
        parts->onboardingDone = std::move(completion);
        parts->router->open(QStringLiteral("onboarding"));
    };
    hooks.startFreshInstance = [] {
        QProcess::startDetached(QCoreApplication::applicationFilePath(), {relaunchedArgument});
    };
    hooks.terminate = [] { QApplication::quit(); };
    const DesktopServices* desktop = m_services.desktop();
    p.startup = std::make_unique<QuendaApp>(m_services.mainQueue(), defaults, *desktop->microphone,
                                            *desktop->permissions, hooks);
    const QuendaApp::StartPath path = p.startup->start();
    if (path != QuendaApp::StartPath::migration) {
        p.tray->start();
        p.updater->scheduleAutomaticChecks();
    }
    return true;
}

void TrayApplication::addWindows(DictationOrchestrator&)
{
    Parts* parts = m_parts.get();
    AppWindows::Shell shell;
    shell.router = parts->router.get();
    shell.launchAtLogin = parts->launchAtLogin.get();
    shell.relaunch = [parts] { parts->startup->relaunch(); };
    shell.onboardingFinished = [parts] {
        // The first run may have switched automatic update checks on or off.
        parts->updater->scheduleAutomaticChecks();
        if (parts->onboardingDone)
            std::exchange(parts->onboardingDone, {})();
    };
    AppWindows::install(m_services, *m_services.pipeline(), *m_services.desktop(), shell);
}

void TrayApplication::showUpdateResult(const UpdateCheckResult& result, bool manual)
{
    const QString current = QCoreApplication::applicationVersion();
    if (!manual) {
        // Automatic checks speak up only when there is something new.
        if (result.kind == UpdateCheckResult::Kind::UpdateAvailable)
            m_parts->tray->showMessage(tr("Quenda %1 is available").arg(result.release.version),
                                       tr("Choose \"Check for Updates...\" in the tray menu to get it."));
        return;
    }
    auto* box = new QMessageBox;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(tr("Software Update"));
    switch (result.kind) {
    case UpdateCheckResult::Kind::UpdateAvailable: {
        box->setIcon(QMessageBox::Information);
        box->setText(tr("Quenda %1 is available; you have %2.").arg(result.release.version, current));
        box->setInformativeText(result.release.notes);
        QPushButton* download = box->addButton(tr("Download"), QMessageBox::AcceptRole);
        box->addButton(tr("Later"), QMessageBox::RejectRole);
        const QUrl url = result.release.downloadURL;
        connect(download, &QPushButton::clicked, box, [url] { QDesktopServices::openUrl(url); });
        break;
    }
    case UpdateCheckResult::Kind::UpToDate:
        box->setIcon(QMessageBox::Information);
        box->setText(tr("You're up to date"));
        box->setInformativeText(tr("Quenda %1 is the newest version.").arg(current));
        break;
    case UpdateCheckResult::Kind::Failed:
        box->setIcon(QMessageBox::Warning);
        box->setText(tr("The update check failed."));
        box->setInformativeText(result.errorMessage);
        break;
    }
    box->show();
    m_parts->activation.activate(box->winId());
}

} // namespace quenda
