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
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <memory>
#include <vector>

using namespace quenda;
using namespace quenda::fakes;

namespace {

// Finds a control the way assistive technology does: by its accessible name among the visible ones.
template <class T>
T* named(QWidget* root, const QString& name)
{
    for (T* widget : root->findChildren<T*>())
        if (widget->accessibleName() == name && widget->isVisibleTo(root))
            return widget;
    return nullptr;
}

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

// The desktop test drives every window through AT-SPI; here, offscreen and quickly, what it does not reach:
// every control named for a screen reader, the speech engine choice and the onboarding's first steps.
class TestWindows : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyControlHasAName();
    void speechEngineChoiceBringsUpItsModels();
    void onboarding();
};

void TestWindows::everyControlHasAName()
{
    UiRig rig;
    SettingsModel settings({&rig.clock, &rig.defaults, rig.orchestrator.get(), &rig.hotkey, &rig.microphone,
                            &rig.permissions, rig.backend.get(), &rig.keychain, &rig.trainingLog},
                           {});
    HotkeyRecorderModel recorder(rig.hotkey, rig.keys, rig.clock);
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

    std::vector<std::unique_ptr<QWidget>> windows;
    windows.push_back(std::make_unique<SettingsWindow>(settings, recorder, nullptr));
    windows.push_back(std::make_unique<StatsWindow>(stats));
    windows.push_back(std::make_unique<ReportProblemWindow>(report));
    windows.push_back(std::make_unique<DictionaryWindow>(words));
    windows.push_back(std::make_unique<SnippetsWindow>(snippets));
    windows.push_back(std::make_unique<FeedbackWindow>(feedback));
    for (const auto& window : windows) {
        window->show();
        QVERIFY2(
            unnamedControls(window.get()).isEmpty(),
            qPrintable(window->windowTitle() + QLatin1Char(':') + unnamedControls(window.get()).join(u' ')));
    }
}

void TestWindows::speechEngineChoiceBringsUpItsModels()
{
    UiRig rig;
    SettingsModel model({&rig.clock, &rig.defaults, rig.orchestrator.get(), &rig.hotkey, &rig.microphone,
                         &rig.permissions, rig.backend.get(), &rig.keychain, &rig.trainingLog},
                        {});
    HotkeyRecorderModel recorder(rig.hotkey, rig.keys, rig.clock);
    qputenv("XDG_DATA_HOME", rig.dir.path().toUtf8()); // no models downloaded
    SpeechSettingsModel speech(rig.clock, rig.defaults);
    SettingsWindow window(model, recorder, &speech);
    window.show();
    QCOMPARE(unnamedControls(&window), QStringList());
    auto* engine = named<QComboBox>(&window, QStringLiteral("Speech Engine"));
    QVERIFY(engine);
    Q_EMIT engine->activated(1);
    QCOMPARE(rig.defaults.stringValue(QStringLiteral("speechEngine")).value_or(QString()),
             QStringLiteral("whisper"));
    QVERIFY(named<QAbstractButton>(&window, QStringLiteral("Download base.en"))->isVisible());
}

void TestWindows::onboarding()
{
    UiRig rig;
    rig.defaults.setString(QStringLiteral("speechEngine"), QStringLiteral("whisper"));
    rig.defaults.setString(QStringLiteral("whisperModelPath"), rig.dir.filePath(QStringLiteral("none.bin")));
    SpeechSettingsModel speech(rig.clock, rig.defaults);
    OnboardingModel model({&rig.clock, &rig.defaults, rig.backend.get(), &rig.pipelineLog, &rig.microphone,
                           &rig.permissions, &speech},
                          {});
    OnboardingWindow window(model);
    window.show();
    QCOMPARE(unnamedControls(&window), QStringList());
    named<QAbstractButton>(&window, QStringLiteral("Get Started"))->click();
    QCOMPARE(model.step(), OnboardingModel::Step::permissions);
    QCOMPARE(unnamedControls(&window), QStringList());
    QVERIFY(named<QAbstractButton>(&window, QStringLiteral("Allow Accessibility")));
    // Whisper without a model: the speech row offers it.
    QVERIFY(named<QAbstractButton>(&window, QStringLiteral("Download Whisper Model"))->isVisible());
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
