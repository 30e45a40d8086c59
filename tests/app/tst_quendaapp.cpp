#include "app/QuendaApp.h"
#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "fakes/FakeServices.h"
#include "fakes/LogCapture.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {
// A start over a scratch settings store, recording what the application asks of its surroundings.
struct Start {
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    VirtualScheduler clock;
    FakeMicrophone microphone;
    FakePermissions permissions;
    QStringList calls;
    std::function<void()> finishOnboarding;
    LogCapture logs;
    std::unique_ptr<QuendaApp> app;

    QuendaApp::StartPath run()
    {
        QuendaApp::Hooks hooks;
        hooks.restoreBackendToken = [this] { calls << QStringLiteral("token"); };
        hooks.configurePipeline = [this] { calls << QStringLiteral("configure"); };
        hooks.showOnboarding = [this](std::function<void()> done) {
            calls << QStringLiteral("onboarding");
            finishOnboarding = std::move(done);
        };
        hooks.startFreshInstance = [this] { calls << QStringLiteral("fresh instance"); };
        hooks.terminate = [this] { calls << QStringLiteral("terminate"); };
        app = std::make_unique<QuendaApp>(clock, defaults, microphone, permissions, hooks);
        return app->start();
    }
    QStringList requests() const { return logs.linesWith(QStringLiteral("[QuendaApp] Requesting")); }
};
} // namespace

class TestQuendaApp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstRunShowsOnboarding();
    void firstStartAfterOnboardingMigratesAndRelaunches();
    void normalStartWiresAtOnceAndAsksLater_data();
    void normalStartWiresAtOnceAndAsksLater();
    void developerHostOnThisMachineIsDropped_data();
    void developerHostOnThisMachineIsDropped();
};

void TestQuendaApp::firstRunShowsOnboarding()
{
    Start s;
    QCOMPARE(s.run(), QuendaApp::StartPath::onboarding);
    s.clock.advance(5);
    QCOMPARE(s.calls, (QStringList{QStringLiteral("token"), QStringLiteral("onboarding")}));
    s.finishOnboarding();
    QCOMPARE(s.calls.last(), QStringLiteral("configure"));
    QVERIFY(!s.defaults.contains(QuendaApp::migratedKey));
    QVERIFY(s.requests().isEmpty());
}

void TestQuendaApp::firstStartAfterOnboardingMigratesAndRelaunches()
{
    Start s;
    s.defaults.setBool(QuendaApp::onboardedKey, true);
    for (const QString& mark : QuendaApp::permissionMarks())
        s.defaults.setBool(mark, true);
    // The marks it leaves and the relaunch itself are the tray desktop test's; here what is cleared, and
    // when.
    QCOMPARE(s.run(), QuendaApp::StartPath::migration);
    for (const QString& mark : QuendaApp::permissionMarks())
        QVERIFY2(!s.defaults.contains(mark), qPrintable(mark));
    s.clock.advance(0.49);
    QCOMPARE(s.calls, (QStringList{QStringLiteral("token"), QStringLiteral("fresh instance")}));
    s.clock.advance(0.01);
    QCOMPARE(s.calls.last(), QStringLiteral("terminate"));
    s.clock.advance(5);
    QVERIFY(!s.calls.contains(QStringLiteral("configure")));
    QVERIFY(s.requests().isEmpty()); // the relaunched instance is the tray desktop test's
}

void TestQuendaApp::normalStartWiresAtOnceAndAsksLater_data()
{
    QTest::addColumn<bool>("microphone");
    QTest::addColumn<bool>("accessibility");
    QTest::addColumn<bool>("listen");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("prompts");
    const QString mic = QStringLiteral("[QuendaApp] Requesting microphone access...");
    const QString ax = QStringLiteral("[QuendaApp] Requesting accessibility...");
    const QString input = QStringLiteral("[QuendaApp] Requesting input monitoring...");
    QTest::newRow("everything granted") << true << true << true << QStringList() << QStringList();
    QTest::newRow("everything missing")
        << false << false << false << QStringList{mic, ax, input}
        << QStringList{QStringLiteral("promptAccessibility"), QStringLiteral("requestListen")};
    QTest::newRow("only input monitoring missing")
        << true << true << false << QStringList{input} << QStringList{QStringLiteral("requestListen")};
}

void TestQuendaApp::normalStartWiresAtOnceAndAsksLater()
{
    QFETCH(bool, microphone);
    QFETCH(bool, accessibility);
    QFETCH(bool, listen);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, prompts);
    Start s;
    s.defaults.setBool(QuendaApp::onboardedKey, true);
    s.defaults.setBool(QuendaApp::migratedKey, true);
    s.microphone.authorized = microphone;
    s.permissions.accessibility = accessibility;
    s.permissions.listen = listen;
    QCOMPARE(s.run(), QuendaApp::StartPath::normal);
    s.clock.runUntilIdle();
    QCOMPARE(s.calls, (QStringList{QStringLiteral("token"), QStringLiteral("configure")}));
    s.clock.advance(QuendaApp::permissionRequestDelay - 0.01);
    QVERIFY(s.requests().isEmpty());
    s.clock.advance(0.01);
    QCOMPARE(s.requests(), requests);
    QCOMPARE(s.permissions.calls, prompts);
}

void TestQuendaApp::developerHostOnThisMachineIsDropped_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("kept");
    QTest::newRow("localhost, any port") << "http://localhost:8787" << false;
    QTest::newRow("loopback address") << "http://127.0.0.1:3000" << false;
    QTest::newRow("a real host") << "https://api.example.org" << true;
}

void TestQuendaApp::developerHostOnThisMachineIsDropped()
{
    QFETCH(QString, host);
    QFETCH(bool, kept);
    Start s;
    s.defaults.setString(QuendaApp::developerHostKey, host);
    s.run();
    QCOMPARE(s.defaults.contains(QuendaApp::developerHostKey), kept);
}

QTEST_GUILESS_MAIN(TestQuendaApp)
#include "tst_quendaapp.moc"
