#include "UiRig.h"
#include "text/PersonalDictionary.h"
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

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <memory>
#include <vector>

using namespace quenda;
using namespace quenda::fakes;

namespace {

// Every control a user can operate must have a name a screen reader can announce.
QStringList unnamedControls(QWidget* root)
{
    QStringList unnamed;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                             qobject_cast<QPlainTextEdit*>(widget);
        if (control && widget->accessibleName().isEmpty())
            unnamed << QString::fromLatin1(widget->metaObject()->className());
    }
    return unnamed;
}

} // namespace

// The desktop test drives the windows through AT-SPI by the names of the controls it uses; here, offscreen,
// every control of every window, the speech settings and the onboarding's pages included, has a name a
// screen reader can announce.
class TestWindows : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyControlHasAName();
};

void TestWindows::everyControlHasAName()
{
    UiRig rig;
    qputenv("XDG_DATA_HOME", rig.dir.path().toUtf8()); // no models downloaded
    rig.defaults.setString(QStringLiteral("speechEngine"), QStringLiteral("whisper"));
    SettingsModel settings({&rig.clock, &rig.defaults, rig.orchestrator.get(), &rig.hotkey, &rig.microphone,
                            &rig.permissions, rig.backend.get(), &rig.keychain, &rig.trainingLog},
                           {});
    HotkeyRecorderModel recorder(rig.hotkey, rig.keys, rig.clock);
    SpeechSettingsModel speech(rig.clock, rig.defaults);
    StatsModel stats(*rig.backend, rig.clock);
    ReportProblemModel report(*rig.backend, rig.clock);
    PersonalDictionary dictionary(rig.defaults, rig.clock);
    dictionary.addEntry(QStringLiteral("teh"), QStringLiteral("the"));
    DictionaryEditorModel words(dictionary);
    rig.snippets.addSnippet(QStringLiteral("sig"), QStringLiteral("Best, Ada"));
    SnippetsEditorModel snippets(rig.snippets);
    rig.orchestrator->setFlaggedDictation(
        DictationResult{QStringLiteral("Hi."), true, rig.clock.now(), QStringLiteral("hi")});
    FeedbackModel feedback(*rig.orchestrator, rig.trainingLog);
    OnboardingModel onboarding({&rig.clock, &rig.defaults, rig.backend.get(), &rig.pipelineLog,
                                &rig.microphone, &rig.permissions, &speech},
                               {});

    std::vector<std::unique_ptr<QWidget>> windows;
    windows.push_back(std::make_unique<SettingsWindow>(settings, recorder, &speech));
    windows.push_back(std::make_unique<StatsWindow>(stats));
    windows.push_back(std::make_unique<ReportProblemWindow>(report));
    windows.push_back(std::make_unique<DictionaryWindow>(words));
    windows.push_back(std::make_unique<SnippetsWindow>(snippets));
    windows.push_back(std::make_unique<FeedbackWindow>(feedback));
    windows.push_back(std::make_unique<OnboardingWindow>(onboarding));
    auto check = [](QWidget* window) {
        QVERIFY2(unnamedControls(window).isEmpty(),
                 qPrintable(window->windowTitle() + QLatin1Char(':') + unnamedControls(window).join(u' ')));
    };
    for (const auto& window : windows) {
        window->show();
        check(window.get());
    }
    onboarding.getStarted(); // the permissions page, with the speech row offering a model
    check(windows.back().get());
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
