#include "app/SemanticVersion.h"
#include "app/UpdateChecker.h"
#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/Waiting.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {
const QString feedPath = QStringLiteral("/quenda/latest.json");

QByteArray feed(const char* version, const char* url = "https://example.org/quenda.deb")
{
    return QByteArray(R"({"version":")") + version + R"(","notes":"Faster start.","url":")" + url + "\"}";
}

// One updater over a temporary settings store, a virtual clock and a feed at a loopback server.
struct Fixture {
    // Unreachable: the feed is at the port of a server that has gone, where nothing listens any more.
    explicit Fixture(bool reachable = true)
        : updater{clock, defaults, QStringLiteral("1.4.0"),
                  reachable ? server.url(feedPath) : FakeHttpServer().url(feedPath)}
    {}
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    VirtualScheduler clock;
    FakeHttpServer server;
    UpdateChecker updater;
    QSignalSpy finished{&updater, &UpdateChecker::checkFinished};

    // Runs the main queue until the check in flight has finished.
    bool waitForChecks(int count)
    {
        return waitUntil([&] { return finished.count() >= count; }, 20000, [&] { clock.runUntilIdle(); });
    }
    UpdateCheckResult result(int index = 0) const
    {
        return finished.at(index).at(0).value<UpdateCheckResult>();
    }
};
} // namespace

class TestUpdateChecker : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void versionOrder_data();
    void versionOrder();
    void manualCheck_data();
    void manualCheck();
    void noFeedMeansNoCheck();
    void automaticChecksAtMostDaily();
};

void TestUpdateChecker::versionOrder_data()
{
    QTest::addColumn<QString>("lower");
    QTest::addColumn<QString>("higher");
    QTest::newRow("numbers, not text") << "1.9.0"
                                       << "1.10.0";
    QTest::newRow("pre-release before release") << "2.0.0-rc.1"
                                                << "2.0.0";
    QTest::newRow("numeric pre-release parts") << "2.0.0-beta.2"
                                               << "2.0.0-beta.11";
    QTest::newRow("numbers before words") << "2.0.0-1"
                                          << "2.0.0-alpha";
    QTest::newRow("missing parts are zero") << "v1"
                                            << "1.0.1";
}

void TestUpdateChecker::versionOrder()
{
    QFETCH(QString, lower);
    QFETCH(QString, higher);
    const auto a = SemanticVersion::parse(lower);
    const auto b = SemanticVersion::parse(higher);
    QVERIFY(a && b);
    QVERIFY(*a < *b);
    QVERIFY(*b > *a);
    QCOMPARE(*SemanticVersion::parse(QStringLiteral("1.2.3+build.7")),
             *SemanticVersion::parse(QStringLiteral("v1.2.3")));
    for (const char* bad : {"", "1.x", "01.2.3", "1.2.3.4", "1.2.3-", "1.2.3-01", "latest"})
        QVERIFY2(!SemanticVersion::parse(QString::fromLatin1(bad)), bad);
}

void TestUpdateChecker::manualCheck_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    const int available = int(UpdateCheckResult::Kind::UpdateAvailable);
    const int upToDate = int(UpdateCheckResult::Kind::UpToDate);
    const int failed = int(UpdateCheckResult::Kind::Failed);
    const QString notFeed = QStringLiteral("The update server's answer is not a release feed.");
    QTest::newRow("newer") << 200 << feed("1.5.0") << available << QString();
    QTest::newRow("pre-release of the current") << 200 << feed("1.4.0-rc.2") << upToDate << QString();
    QTest::newRow("not JSON") << 200 << QByteArray("<html>oops</html>") << failed << notFeed;
    QTest::newRow("bad version") << 200 << feed("soon") << failed << notFeed;
    QTest::newRow("download is not a web address")
        << 200 << feed("9.0.0", "file:///etc/passwd") << failed << notFeed;
    QTest::newRow("server error") << 503 << feed("1.5.0") << failed
                                  << QStringLiteral("The update server answered with status 503.");
    QTest::newRow("unreachable") << 0 << QByteArray() << failed
                                 << QStringLiteral("The update server could not be reached: ");
}

void TestUpdateChecker::manualCheck()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, kind);
    QFETCH(QString, message);
    Fixture f(status != 0);
    f.server.enqueue(FakeReply::json(status, body));
    QSignalSpy canCheck(&f.updater, &UpdateChecker::canCheckForUpdatesChanged);
    QVERIFY(f.updater.canCheckForUpdates());
    f.updater.checkForUpdates();
    QVERIFY(!f.updater.canCheckForUpdates()); // greyed out while the check runs
    QVERIFY(f.waitForChecks(1));
    QVERIFY(f.updater.canCheckForUpdates());
    QCOMPARE(canCheck.count(), 2);
    QCOMPARE(f.finished.at(0).at(1).toBool(), true);
    const UpdateCheckResult result = f.result();
    QCOMPARE(int(result.kind), kind);
    // The unreachable one goes on with the network's own words.
    QCOMPARE(status == 0 ? result.errorMessage.left(message.size()) : result.errorMessage, message);
    if (result.kind == UpdateCheckResult::Kind::UpdateAvailable)
        QCOMPARE(result.release, (ReleaseInfo{QStringLiteral("1.5.0"), QStringLiteral("Faster start."),
                                              QUrl(QStringLiteral("https://example.org/quenda.deb"))}));
    if (status != 0)
        QCOMPARE(f.server.requests().at(0).path, feedPath.toUtf8());
}

void TestUpdateChecker::noFeedMeansNoCheck()
{
    Fixture f;
    for (const char* address : {"", "ftp://example.org/feed.json", "not a url"}) {
        UpdateChecker updater(f.clock, f.defaults, QStringLiteral("1.4.0"),
                              QUrl(QString::fromLatin1(address)));
        QVERIFY2(!updater.canCheckForUpdates(), address);
    }
    // The settings' own feed wins over the built-in one; a bad one leaves no feed at all.
    f.defaults.setString(UpdateChecker::feedURLKey, f.server.origin() + QStringLiteral("/mine.json"));
    QCOMPARE(f.updater.feedURL().path(), QStringLiteral("/mine.json"));
    f.defaults.setString(UpdateChecker::feedURLKey, QStringLiteral("javascript:alert(1)"));
    QVERIFY(!f.updater.canCheckForUpdates());
}

void TestUpdateChecker::automaticChecksAtMostDaily()
{
    Fixture f;
    f.server.setHandler([](const RecordedRequest&) { return FakeReply::json(200, feed("1.4.0")); });
    const double day = UpdateChecker::automaticCheckInterval;

    f.updater.scheduleAutomaticChecks(); // switched off: nothing is ever checked
    f.clock.advance(2 * day);
    QCOMPARE(f.server.requestCount(), 0);

    f.defaults.setBool(UpdateChecker::automaticChecksKey, true);
    f.updater.scheduleAutomaticChecks();
    f.clock.advance(UpdateChecker::launchDelay);
    QVERIFY(f.waitForChecks(1));
    QCOMPARE(f.finished.at(0).at(1).toBool(), false);
    f.clock.advance(day - 60);
    QCOMPARE(f.server.requestCount(), 1);
    f.clock.advance(60);
    QVERIFY(f.waitForChecks(2));

    // A restart two hours after the last check waits out the rest of the day.
    f.clock.advance(2 * 3600);
    UpdateChecker restarted(f.clock, f.defaults, QStringLiteral("1.4.0"), f.server.url(feedPath));
    QSignalSpy again(&restarted, &UpdateChecker::checkFinished);
    f.defaults.setBool(UpdateChecker::automaticChecksKey, false); // the first updater stands down
    f.updater.scheduleAutomaticChecks();
    f.defaults.setBool(UpdateChecker::automaticChecksKey, true);
    restarted.scheduleAutomaticChecks();
    f.clock.advance(day - 2 * 3600 - 60);
    QCOMPARE(f.server.requestCount(), 2);
    f.clock.advance(60);
    QVERIFY(waitUntil([&] { return again.count() == 1; }, 10000, [&] { f.clock.runUntilIdle(); }));
    QCOMPARE(f.server.requestCount(), 3);
}

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
