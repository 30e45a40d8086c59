#include "UiRig.h"
#include "text/PersonalDictionary.h"
#include "ui/editors/DictionaryEditorModel.h"
#include "ui/feedback/FeedbackModel.h"
#include "ui/report/ReportProblemModel.h"

#include <QSignalSpy>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

class TestFormModels : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void failedReportIsKeptForAnotherAttempt();
    void dictionaryEditor();
    void feedback_data();
    void feedback();
};

// The accepted report, and adding and deleting dictionary entries, are driven through the windows on the
// desktop; here the failure and what the desktop cannot arrange.
void TestFormModels::failedReportIsKeptForAnotherAttempt()
{
    UiRig rig;
    rig.server.enqueue(FakeReply::json(500, QByteArray("{}")));
    ReportProblemModel report(*rig.backend, rig.clock);
    QVERIFY(!report.canSend());
    report.setMessage(QStringLiteral(" "));
    QVERIFY(report.canSend());
    report.setMessage(QStringLiteral("The pill froze."));
    report.submit();
    QVERIFY(report.isSubmitting() && !report.canSend());
    QVERIFY(rig.settleUntil([&] { return !report.isSubmitting(); }));
    QVERIFY(!report.submitted());
    QCOMPARE(report.error().value_or(QString()), QStringLiteral("Failed to send \u2014 try again later"));
    QCOMPARE(report.message(), QStringLiteral("The pill froze.")); // kept for another attempt
    report.reset();
    QVERIFY(report.message().isEmpty() && !report.submitted() && !report.error());
}

void TestFormModels::dictionaryEditor()
{
    UiRig rig;
    PersonalDictionary dictionary(rig.defaults, rig.clock);
    DictionaryEditorModel editor(dictionary);
    QSignalSpy listChanged(&editor, &DictionaryEditorModel::entriesChanged);
    for (int copy = 0; copy < 2; ++copy) {
        editor.setMisheard(QStringLiteral("teh"));
        editor.setCorrect(QStringLiteral("the"));
        editor.add();
    }
    QCOMPARE(editor.entries().size(), 2);
    editor.remove(editor.entries().last().id); // one of two identical entries: only that one goes
    QCOMPARE(editor.entries().size(), 1);
    // An entry learned in the background shows at once.
    const int before = listChanged.size();
    for (int time = 0; time < PersonalDictionary::autoAddThreshold; ++time)
        dictionary.learnCorrections(QStringLiteral("send it to anna"), QStringLiteral("send it to Hannah"));
    rig.clock.runUntilIdle();
    QCOMPARE(editor.entries().size(), 2);
    QVERIFY(listChanged.size() > before);
}

void TestFormModels::feedback_data()
{
    QTest::addColumn<QString>("edited"); // "-" leaves the editor as it came
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("logged"); // correction | context in the log's line
    QTest::newRow("untouched") << QStringLiteral("-") << QString() << QStringLiteral("Hi there. | -");
    QTest::newRow("emptied") << QString() << QString() << QStringLiteral("- | -");
}

void TestFormModels::feedback()
{
    QFETCH(QString, edited);
    QFETCH(QString, note);
    QFETCH(QString, logged);
    UiRig rig;
    rig.trainingLog.log(TrainingEntry{QStringLiteral("hi there"), QStringLiteral("Hi there."), std::nullopt,
                                      QStringLiteral("2026-12-06T10:00:00Z"), std::nullopt, std::nullopt,
                                      std::nullopt});
    FeedbackModel feedback(*rig.orchestrator, rig.trainingLog);
    QVERIFY(!feedback.dictation());
    rig.orchestrator->setFlaggedDictation(
        DictationResult{QStringLiteral("Hi there."), true, rig.clock.now(), QStringLiteral("hi there")});
    QCOMPARE(feedback.correctedText(), QStringLiteral("Hi there."));
    if (edited != QLatin1String("-"))
        feedback.setCorrectedText(edited);
    feedback.setContextNote(note);
    feedback.submit();
    QVERIFY(!rig.orchestrator->flaggedDictation());
    QVERIFY(!feedback.dictation());
    rig.trainingLog.waitForPendingWork();
    const TrainingEntry entry = rig.trainingLog.allEntries().value(0);
    QCOMPARE(entry.feedback, std::optional<QString>(QStringLiteral("bad")));
    QCOMPARE(entry.correction.value_or(QStringLiteral("-")) + QStringLiteral(" | ") +
                 entry.context.value_or(QStringLiteral("-")),
             logged);
}

QTEST_GUILESS_MAIN(TestFormModels)
#include "tst_formmodels.moc"
