#include "app/AppWindows.h"

#include "app/AppServices.h"
#include "app/LaunchAtLogin.h"
#include "app/WindowRouter.h"
#include "base/UserDefaults.h"
#include "capture/SpeechEngineSelector.h"
#include "core/DictationPipeline.h"
#include "net/KeychainStore.h"
#include "platform/DesktopServices.h"
#include "platform/HotkeyEventSource.h"
#include "platform/linux/PocketSphinxEngine.h"
#include "training/TrainingDataLogger.h"
#include "ui/editors/DictionaryEditorModel.h"
#include "ui/editors/DictionaryWindow.h"
#include "ui/editors/SnippetsEditorModel.h"
#include "ui/editors/SnippetsWindow.h"
#include "ui/feedback/FeedbackModel.h"
#include "ui/feedback/FeedbackWindow.h"
#include "ui/onboarding/OnboardingModel.h"
#include "ui/onboarding/OnboardingWindow.h"
#include "ui/report/ReportProblemModel.h"
#include "ui/report/ReportProblemWindow.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/SpeechSettingsModel.h"
#include "ui/stats/StatsModel.h"
#include "ui/stats/StatsWindow.h"
#include "ui/widgets/HotkeyRecorderModel.h"

#include <QDesktopServices>
#include <QPointer>

#include <memory>

namespace quenda {

namespace {

// The window owns its view-model, so both go together.
template <class Window, class Model>
std::unique_ptr<QWidget> windowOver(std::unique_ptr<Model> model)
{
    auto window = std::make_unique<Window>(*model);
    model.release()->setParent(window.get());
    return window;
}

} // namespace

void AppWindows::install(AppServices& services, DictationPipeline& pipeline,
                         const DesktopServices& desktopServices, Shell shell)
{
    const DesktopServices desktop = desktopServices; // pointers to services that outlive the windows
    WindowRouter& router = *shell.router;
    DictationOrchestrator& orchestrator = pipeline.orchestrator();
    HotkeyManager& hotkey = pipeline.hotkeyManager();
    LaunchAtLogin* launchAtLogin = shell.launchAtLogin;
    // The engine the settings choose is ready: its model installed, or its service named. PocketSphinx's
    // model is looked for, not loaded (loading it takes some 90 MB before the first dictation needs it).
    auto speechReady = [&services] {
        const QString choice = services.defaults()
                                   .stringValue(SpeechEngineSelector::engineKey)
                                   .value_or(QStringLiteral("pocketsphinx"));
        if (choice == QLatin1String("pocketsphinx"))
            return PocketSphinxEngine::isModelInstalled();
        const std::shared_ptr<SpeechEngine> engine = services.speechEngines().current();
        return engine && engine->isAvailable();
    };

    router.setFactory(
        QStringLiteral("settings"),
        [&services, &orchestrator, &hotkey, &router, desktop, shell, speechReady,
         launchAtLogin]() -> std::unique_ptr<QWidget> {
            SettingsModel::Services s{
                &services.mainQueue(),  &services.defaults(), &orchestrator,       &hotkey,
                desktop.microphone,     desktop.permissions,  &services.backend(), &services.keychain(),
                &services.trainingLog()};
            SettingsModel::Hooks hooks;
            hooks.isLaunchAtLoginEnabled = [launchAtLogin] {
                return launchAtLogin->isLaunchAtLoginEnabled();
            };
            hooks.setLaunchAtLogin = [launchAtLogin](bool on) {
                on ? launchAtLogin->enableLaunchAtLogin() : launchAtLogin->disableLaunchAtLogin();
            };
            hooks.isSpeechEngineReady = speechReady;
            hooks.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
            hooks.relaunch = shell.relaunch;
            hooks.showOnboarding = [&router] { router.open(QStringLiteral("onboarding")); };
            auto model = std::make_unique<SettingsModel>(s, hooks);
            auto recorder =
                std::make_unique<HotkeyRecorderModel>(hotkey, *desktop.hotkeys, services.mainQueue());
            auto speech = std::make_unique<SpeechSettingsModel>(services.mainQueue(), services.defaults());
            auto window = std::make_unique<SettingsWindow>(*model, *recorder, speech.get());
            model.release()->setParent(window.get());
            recorder.release()->setParent(window.get());
            speech.release()->setParent(window.get());
            return window;
        });

    router.setFactory(
        QStringLiteral("onboarding"),
        [&services, desktop, shell, speechReady, launchAtLogin]() -> std::unique_ptr<QWidget> {
            OnboardingModel::Services s{&services.mainQueue(),   &services.defaults(), &services.backend(),
                                        &services.trainingLog(), desktop.microphone,   desktop.permissions};
            auto shown = std::make_shared<QPointer<QWidget>>();
            OnboardingModel::Hooks hooks;
            hooks.isSpeechEngineReady = speechReady;
            hooks.enableLaunchAtLogin = [launchAtLogin] { launchAtLogin->enableLaunchAtLogin(); };
            hooks.fnKeyName = desktop.hotkeys->functionKeyName();
            // The end of the flow closes the window and hands over to the start-up.
            hooks.onComplete = [shown, finished = shell.onboardingFinished] {
                if (*shown)
                    (*shown)->hide();
                if (finished)
                    finished();
            };
            auto speech = std::make_unique<SpeechSettingsModel>(services.mainQueue(), services.defaults());
            s.speech = speech.get();
            auto window = windowOver<OnboardingWindow>(std::make_unique<OnboardingModel>(s, hooks));
            speech.release()->setParent(window.get());
            *shown = window.get();
            return window;
        });

    router.setFactory(QStringLiteral("stats"), [&services] {
        return windowOver<StatsWindow>(
            std::make_unique<StatsModel>(services.backend(), services.mainQueue()));
    });
    router.setFactory(QStringLiteral("report-problem"), [&services] {
        return windowOver<ReportProblemWindow>(
            std::make_unique<ReportProblemModel>(services.backend(), services.mainQueue()));
    });
    router.setFactory(QStringLiteral("dictionary"), [&services] {
        return windowOver<DictionaryWindow>(std::make_unique<DictionaryEditorModel>(services.dictionary()));
    });
    router.setFactory(QStringLiteral("snippets"), [&services] {
        return windowOver<SnippetsWindow>(std::make_unique<SnippetsEditorModel>(services.snippets()));
    });
    router.setFactory(QStringLiteral("feedback"), [&services, &orchestrator] {
        return windowOver<FeedbackWindow>(
            std::make_unique<FeedbackModel>(orchestrator, services.trainingLog()));
    });
}

} // namespace quenda
