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
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

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

void type(QWidget* field, const QString& text)
{
    field->setFocus();
    QTest::keyClicks(field, text);
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void settings();
    void onboarding();
    void stats();
    void report();
    void editors();
    void feedback();
};

void TestWindows::settings()
{
    UiRig rig;
    SettingsModel::Services s{&rig.clock,        &rig.defaults,   rig.orchestrator.get(),
                              &rig.hotkey,       &rig.microphone, &rig.permissions,
                              rig.backend.get(), &rig.keychain,   &rig.trainingLog};
    SettingsModel model(s, {});
    HotkeyRecorderModel recorder(rig.hotkey, rig.keys, rig.clock);
    qputenv("XDG_DATA_HOME", rig.dir.path().toUtf8()); // no models downloaded
    SpeechSettingsModel speech(rig.clock, rig.defaults);
    SettingsWindow window(model, recorder, &speech);
    window.show();
    QCOMPARE(unnamedControls(&window), QStringList());
    // Choosing Whisper stores the choice and brings up its models.
    auto* engine = named<QComboBox>(&window, QStringLiteral("Speech Engine"));
    QVERIFY(engine);
    Q_EMIT engine->activated(1);
    QCOMPARE(rig.defaults.stringValue(QStringLiteral("speechEngine")).value_or(QString()),
             QStringLiteral("whisper"));
    QVERIFY(named<QAbstractButton>(&window, QStringLiteral("Download base.en"))->isVisible());
    QVERIFY(!named<QGroupBox>(&window, QStringLiteral("AI Enhancement (Direct)")));
    auto* version = named<QAbstractButton>(&window, model.versionLine());
    QVERIFY(version);
    for (int tap = 0; tap < SettingsModel::devModeTaps; ++tap)
        version->click();
    QVERIFY(named<QGroupBox>(&window, QStringLiteral("AI Enhancement (Direct)")));

    // The hotkey: the button shows the prompt, then the keys pressed become the hotkey.
    auto* hotkey = named<QAbstractButton>(&window, QStringLiteral("Hotkey: Right Ctrl"));
    QVERIFY(hotkey);
    hotkey->click();
    QVERIFY(named<QLabel>(&window, QStringLiteral("Press a key…")));
    QCoreApplication::processEvents(); // the prompt is on screen: recording starts
    rig.keys.send(CanonicalKeyEvent{CanonicalKeyEvent::Type::KeyDown, 2,
                                    ModifierFlag::Control | ModifierFlag::Option, false});
    rig.clock.runUntilIdle();
    QVERIFY(named<QAbstractButton>(&window, QStringLiteral("Hotkey: Ctrl+Alt+D")));
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
    QVERIFY(named<QAbstractButton>(&window, QStringLiteral("Allow Accessibility")));
    // Whisper without a model: the speech row offers it.
    QVERIFY(named<QAbstractButton>(&window, QStringLiteral("Download Whisper Model"))->isVisible());
}

void TestWindows::stats()
{
    UiRig rig;
    rig.backend->setAuthToken(QStringLiteral("tok"));
    rig.server.enqueue(FakeReply::json(200, QByteArray(R"({"total_words":4000,"streak":0})")));
    StatsModel model(*rig.backend, rig.clock);
    StatsWindow window(model);
    window.show();
    QVERIFY(rig.settleUntil([&] { return !model.isLoading(); }));
    QVERIFY(named<QLabel>(&window, QStringLiteral("1h 13m minutes saved")));
    QVERIFY(named<QLabel>(&window, QStringLiteral("\u2014 day streak")));
    QVERIFY(named<QLabel>(&window, QStringLiteral("4.0k words")));
}

void TestWindows::report()
{
    UiRig rig;
    rig.server.enqueue(FakeReply::json(200, QByteArray("{}")));
    ReportProblemModel model(*rig.backend, rig.clock);
    ReportProblemWindow window(model);
    window.show();
    QCOMPARE(unnamedControls(&window), QStringList());
    auto* send = named<QAbstractButton>(&window, QStringLiteral("Send Report"));
    QVERIFY(!send->isEnabled());
    type(named<QPlainTextEdit>(&window, QStringLiteral("What went wrong?")), QStringLiteral("It stopped."));
    QVERIFY(send->isEnabled());
    send->click();
    QVERIFY(rig.settleUntil([&] { return model.submitted(); }));
    QVERIFY(named<QLabel>(&window, QStringLiteral("Report Sent")));
    QCOMPARE(rig.server.requests().value(0).json().value(QLatin1String("message")).toString(),
             QStringLiteral("It stopped."));
}

void TestWindows::editors()
{
    UiRig rig;
    PersonalDictionary dictionary(rig.defaults, rig.clock);
    DictionaryEditorModel words(dictionary);
    DictionaryWindow dictionaryWindow(words);
    dictionaryWindow.show();
    QCOMPARE(unnamedControls(&dictionaryWindow), QStringList());
    QVERIFY(named<QLabel>(&dictionaryWindow, QStringLiteral("No entries yet")));
    type(named<QLineEdit>(&dictionaryWindow, QStringLiteral("Misheard")), QStringLiteral("Teh"));
    type(named<QLineEdit>(&dictionaryWindow, QStringLiteral("Correct")), QStringLiteral("the"));
    named<QAbstractButton>(&dictionaryWindow, QStringLiteral("Add"))->click();
    QVERIFY(named<QWidget>(&dictionaryWindow, QStringLiteral("teh becomes the")));
    QVERIFY(named<QLineEdit>(&dictionaryWindow, QStringLiteral("Misheard"))->text().isEmpty());
    named<QAbstractButton>(&dictionaryWindow, QStringLiteral("Delete teh → the"))->click();
    QVERIFY(dictionary.entries().isEmpty());

    SnippetsEditorModel snippets(rig.snippets);
    SnippetsWindow snippetsWindow(snippets);
    snippetsWindow.show();
    QCOMPARE(unnamedControls(&snippetsWindow), QStringList());
    type(named<QLineEdit>(&snippetsWindow, QStringLiteral("Trigger phrase")), QStringLiteral("sig"));
    type(named<QPlainTextEdit>(&snippetsWindow, QStringLiteral("Expansion text")),
         QStringLiteral("Best, Ada"));
    named<QAbstractButton>(&snippetsWindow, QStringLiteral("Add Snippet"))->click();
    QCOMPARE(rig.snippets.snippets().size(), 1);
    QVERIFY(named<QAbstractButton>(&snippetsWindow, QStringLiteral("Delete sig")));
}

void TestWindows::feedback()
{
    UiRig rig;
    rig.trainingLog.log(TrainingEntry{QStringLiteral("hi"), QStringLiteral("Hi."), std::nullopt,
                                      QStringLiteral("2026-12-06T10:00:00Z"), std::nullopt, std::nullopt,
                                      std::nullopt});
    rig.orchestrator->setFlaggedDictation(
        DictationResult{QStringLiteral("Hi."), true, rig.clock.now(), QStringLiteral("hi")});
    FeedbackModel model(*rig.orchestrator, rig.trainingLog);
    FeedbackWindow window(model);
    window.show();
    QCOMPARE(unnamedControls(&window), QStringList());
    auto* editor = named<QPlainTextEdit>(&window, QStringLiteral("What it should have been:"));
    QCOMPARE(editor->toPlainText(), QStringLiteral("Hi."));
    editor->setPlainText(QStringLiteral("Hi!"));
    named<QAbstractButton>(&window, QStringLiteral("Submit"))->click();
    rig.trainingLog.waitForPendingWork();
    QCOMPARE(rig.trainingLog.allEntries().value(0).correction, std::optional<QString>(QStringLiteral("Hi!")));
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
