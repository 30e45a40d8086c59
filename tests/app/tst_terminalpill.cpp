#include "app/cli/TerminalPill.h"

#include <QTest>

using namespace quenda;

class TestTerminalPill : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rendersWhatThePillShows_data();
    void rendersWhatThePillShows();
    void logLinesGoAboveThePillLine();
};

void TestTerminalPill::rendersWhatThePillShows_data()
{
    QTest::addColumn<PillContent>("content");
    QTest::addColumn<QString>("line");
    const QString longText = QStringLiteral("one two three four five six seven eight nine ten eleven twelve");
    QTest::newRow("listening, nothing heard")
        << PillContent{DictationState::listening(), QString(), 0} << QStringLiteral("▯▯▯ Listening...");
    QTest::newRow("listening, loud") << PillContent{DictationState::listening(), QStringLiteral("hi"), 1.0f}
                                     << QStringLiteral("▮▮▮ hi");
    QTest::newRow("listening, moderate")
        << PillContent{DictationState::listening(), QStringLiteral("hi"), 0.5f} << QStringLiteral("▮▯▯ hi");
    QTest::newRow("processing hides the transcript")
        << PillContent{DictationState::processing(), QStringLiteral("words"), 1.0f}
        << QStringLiteral("··· Enhancing...");
    QTest::newRow("newest words stay visible") << PillContent{DictationState::listening(), longText, 0}
                                               << QStringLiteral("▯▯▯ …en eight nine ten eleven twelve");
    QTest::newRow("line breaks flattened")
        << PillContent{DictationState::listening(), QStringLiteral("a\nb"), 0} << QStringLiteral("▯▯▯ a b");
}

void TestTerminalPill::rendersWhatThePillShows()
{
    QFETCH(PillContent, content);
    QFETCH(QString, line);
    QCOMPARE(TerminalPill::render(content, 36), line);
}

void TestTerminalPill::logLinesGoAboveThePillLine()
{
    QString screen;
    QString logs;
    QTextStream pillStream(&screen);
    QTextStream logStream(&logs);
    TerminalPill pill(pillStream, true);
    pill.show(PillContent{DictationState::listening(), QStringLiteral("hello"), 0});
    pill.printAbove(logStream, QStringLiteral("[Audio] Installing tap"));
    QCOMPARE(logs, QStringLiteral("[Audio] Installing tap\n"));
    // The pill's line was cleared before the log line and drawn again after it.
    QCOMPARE(screen, QStringLiteral("\r\x1b[2K▯▯▯ hello\r\x1b[2K▯▯▯ hello"));
    pill.fadeOutAndHide(0.3);
    pill.refresh(PillContent{DictationState::listening(), QStringLiteral("late"), 0});
    QVERIFY(!screen.endsWith(QStringLiteral("late"))); // hidden: refreshes draw nothing
}

QTEST_GUILESS_MAIN(TestTerminalPill)
#include "tst_terminalpill.moc"
