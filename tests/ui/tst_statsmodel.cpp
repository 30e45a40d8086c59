#include "UiRig.h"
#include "ui/stats/StatsModel.h"

#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

class TestStatsModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void formats_data();
    void formats();
    void usage_data();
    void usage();
};

void TestStatsModel::formats_data()
{
    QTest::addColumn<int>("words");
    QTest::addColumn<QString>("timeSaved");
    QTest::addColumn<QString>("wordsText");
    QTest::newRow("none") << 0 << QStringLiteral("< 1") << QStringLiteral("0");
    QTest::newRow("1000: 18.3 minutes") << 1000 << QStringLiteral("18") << QStringLiteral("1.0k");
    QTest::newRow("1250 rounds up") << 1250 << QStringLiteral("22") << QStringLiteral("1.3k");
    QTest::newRow("3272: 59.99 minutes") << 3272 << QStringLiteral("59") << QStringLiteral("3.3k");
    QTest::newRow("3273: 60.005 minutes") << 3273 << QStringLiteral("1h") << QStringLiteral("3.3k");
    QTest::newRow("4000: 73.3 minutes") << 4000 << QStringLiteral("1h 13m") << QStringLiteral("4.0k");
}

void TestStatsModel::formats()
{
    QFETCH(int, words);
    QFETCH(QString, timeSaved);
    QFETCH(QString, wordsText);
    QCOMPARE(StatsModel::timeSaved(words), timeSaved);
    QCOMPARE(StatsModel::words(words), wordsText);
}

void TestStatsModel::usage_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("shown"); // total, week, streak, today; or the error
    QTest::newRow("all four")
        << true << 200
        << QByteArray(R"({"total_words":3273,"words_this_week":120,"streak":4,"dictations_today":7})")
        << QStringLiteral("3273 120 4 7");
    QTest::newRow("not integers") << true << 200
                                  << QByteArray(
                                         R"({"total_words":"12","streak":2.5,"dictations_today":null})")
                                  << QStringLiteral("0 0 0 0");
    QTest::newRow("a 500 with an object is still usage")
        << true << 500 << QByteArray(R"({"streak":1})") << QStringLiteral("0 0 1 0");
    QTest::newRow("not JSON") << true << 200 << QByteArray("<html>")
                              << QStringLiteral("Could not load stats");
    QTest::newRow("signed out") << false << 200 << QByteArray("{}") << QStringLiteral("Could not load stats");
}

void TestStatsModel::usage()
{
    QFETCH(bool, signedIn);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, shown);
    UiRig rig;
    if (signedIn)
        rig.backend->setAuthToken(QStringLiteral("tok"));
    rig.server.enqueue(FakeReply::json(status, body));
    StatsModel stats(*rig.backend, rig.clock);
    stats.load();
    QVERIFY(stats.isLoading());
    QVERIFY(rig.settleUntil([&] { return !stats.isLoading(); }));
    const QString numbers = QStringLiteral("%1 %2 %3 %4")
                                .arg(stats.totalWords())
                                .arg(stats.wordsThisWeek())
                                .arg(stats.streak())
                                .arg(stats.dictationsToday());
    QCOMPARE(stats.error().value_or(numbers), shown);
    if (signedIn)
        QCOMPARE(rig.server.requests().value(0).header("authorization"), QByteArray("Bearer tok"));
}

QTEST_GUILESS_MAIN(TestStatsModel)
#include "tst_statsmodel.moc"
