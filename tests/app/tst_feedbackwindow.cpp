#include "app/FeedbackWindow.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace quenda;

using Optional = std::optional<QString>;
Q_DECLARE_METATYPE(Optional)

class TestFeedbackWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void submitPassesWhatTheUserLeft_data();
    void submitPassesWhatTheUserLeft();
    void cancellingOrClosingDismisses();
};

namespace {
QPlainTextEdit* editor(FeedbackWindow& window, const QString& name)
{
    for (auto* edit : window.findChildren<QPlainTextEdit*>())
        if (edit->accessibleName() == name)
            return edit;
    return nullptr;
}

QPushButton* button(FeedbackWindow& window, const QString& name)
{
    for (auto* push : window.findChildren<QPushButton*>())
        if (push->accessibleName() == name)
            return push;
    return nullptr;
}
} // namespace

void TestFeedbackWindow::submitPassesWhatTheUserLeft_data()
{
    QTest::addColumn<std::optional<QString>>("correction"); // null: left as shown
    QTest::addColumn<QString>("note");
    QTest::addColumn<Optional>("submittedCorrection");
    QTest::addColumn<Optional>("submittedNote");
    QTest::newRow("untouched: the inserted text")
        << Optional() << QString() << Optional(QStringLiteral("Send it to Ann.")) << Optional();
    QTest::newRow("edited, with a note")
        << Optional(QStringLiteral("Send it to Anne.")) << QStringLiteral("name")
        << Optional(QStringLiteral("Send it to Anne.")) << Optional(QStringLiteral("name"));
    QTest::newRow("emptied") << Optional(QString()) << QString() << Optional() << Optional();
}

void TestFeedbackWindow::submitPassesWhatTheUserLeft()
{
    QFETCH(Optional, correction);
    QFETCH(QString, note);
    QFETCH(Optional, submittedCorrection);
    QFETCH(Optional, submittedNote);
    QList<std::pair<Optional, Optional>> submitted;
    int dismissed = 0;
    FeedbackWindow window([&](Optional c, Optional n) { submitted.append({c, n}); }, [&] { ++dismissed; });
    window.setDictation(
        DictationResult{QStringLiteral("Send it to Ann."), true, {}, QStringLiteral("send it to ann")});
    QPlainTextEdit* corrected = editor(window, QStringLiteral("What it should have been:"));
    QVERIFY(corrected);
    if (correction)
        corrected->setPlainText(*correction);
    editor(window, QStringLiteral("What went wrong? (optional)"))->setPlainText(note);
    button(window, QStringLiteral("Submit"))->click();
    QCOMPARE(submitted.size(), 1);
    QCOMPARE(submitted.first().first, submittedCorrection);
    QCOMPARE(submitted.first().second, submittedNote);
    QCOMPARE(dismissed, 0);
}

void TestFeedbackWindow::cancellingOrClosingDismisses()
{
    int submitted = 0;
    int dismissed = 0;
    FeedbackWindow window([&](Optional, Optional) { ++submitted; }, [&] { ++dismissed; });
    window.setDictation(DictationResult{QStringLiteral("x"), true, {}, QStringLiteral("y")});
    window.show();
    button(window, QStringLiteral("Cancel"))->click();
    QCOMPARE(dismissed, 1);
    window.show();
    window.close(); // the window's own close button
    QCOMPARE(dismissed, 2);
    // Nothing flagged: the window says so, and Submit has nothing to send.
    window.setDictation(std::nullopt);
    button(window, QStringLiteral("Submit"))->click();
    QCOMPARE(submitted, 0);
}

QTEST_MAIN(TestFeedbackWindow)
#include "tst_feedbackwindow.moc"
