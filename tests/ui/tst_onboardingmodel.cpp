#include "UiRig.h"
#include "ui/onboarding/OnboardingModel.h"

#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {
using Step = OnboardingModel::Step;
using Permission = OnboardingModel::Permission;

struct OnboardingRig : UiRig {
    int completions = 0;
    int launchAtLoginEnabled = 0;
    bool speechReady = false;
    std::unique_ptr<OnboardingModel> onboarding;

    OnboardingRig()
    {
        OnboardingModel::Services s{&clock,       &defaults,   backend.get(),
                                    &pipelineLog, &microphone, &permissions};
        OnboardingModel::Hooks hooks;
        hooks.isSpeechEngineReady = [this] { return speechReady; };
        hooks.enableLaunchAtLogin = [this] { ++launchAtLoginEnabled; };
        hooks.fnKeyName = QStringLiteral("Right Ctrl");
        hooks.onComplete = [this] { ++completions; };
        onboarding = std::make_unique<OnboardingModel>(s, hooks);
        onboarding->setVisible(true);
    }
    QStringList permissionLines() const { return logs.linesWith(QStringLiteral("[Permissions]")); }
};
} // namespace

class TestOnboardingModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void permissionsPagePollsEveryTwoSeconds();
    void signIn_data();
    void signIn();
    void skipKeepsNeitherNameNorEmail();
    void closingFinishesNothing();
};

void TestOnboardingModel::permissionsPagePollsEveryTwoSeconds()
{
    OnboardingRig rig;
    rig.microphone.authorized = false;
    rig.clock.advance(10);
    QVERIFY(rig.permissionLines().isEmpty()); // the welcome page does not poll
    rig.onboarding->getStarted();
    QCOMPARE(rig.permissionLines(), QStringList{}); // all still false: nothing changed, nothing logged
    rig.permissions.accessibility = true;
    rig.clock.advance(1.9);
    QVERIFY(!rig.onboarding->isGranted(Permission::accessibility));
    rig.clock.advance(0.1);
    QVERIFY(rig.onboarding->isGranted(Permission::accessibility));
    QCOMPARE(rig.permissionLines(),
             QStringList{QStringLiteral("[Permissions] mic=false speech=false ax=true input=false")});
    rig.clock.advance(6);
    QCOMPARE(rig.permissionLines().size(), 1);

    rig.permissions.listen = true;
    rig.onboarding->applicationActivated(); // coming back to Quenda checks at once
    QVERIFY(rig.onboarding->isGranted(Permission::inputMonitoring));

    rig.onboarding->continueToSignIn();
    QVERIFY(!rig.onboarding->isPolling());
    rig.microphone.authorized = true;
    rig.clock.advance(10);
    QVERIFY(!rig.onboarding->isGranted(Permission::microphone));
    rig.onboarding->back(); // back on the page: checked at once
    QVERIFY(rig.onboarding->isGranted(Permission::microphone));
    rig.onboarding->setVisible(false);
    QVERIFY(!rig.onboarding->isPolling());

    // Allow: the microphone is asked for; speech cannot be granted, so its help shows.
    rig.onboarding->allow(Permission::speechRecognition);
    QVERIFY(!rig.onboarding->help(Permission::speechRecognition).isEmpty());
    QVERIFY(rig.onboarding->help(Permission::microphone).isEmpty());
}

void TestOnboardingModel::signIn_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("completes");
    QTest::newRow("accepted") << 200 << true;
    QTest::newRow("refused") << 500 << false;
}

void TestOnboardingModel::signIn()
{
    QFETCH(int, status);
    QFETCH(bool, completes);
    OnboardingRig rig;
    rig.server.enqueue(FakeReply::json(status, QByteArray(R"({"token":"t"})")));
    rig.onboarding->getStarted();
    rig.onboarding->continueToSignIn();
    rig.onboarding->setName(QStringLiteral("Ada"));
    rig.onboarding->setEmail(QStringLiteral("ada@example.com"));
    rig.onboarding->setAutoUpdate(false);
    rig.onboarding->signIn();
    QVERIFY(rig.onboarding->isSigningIn());
    QVERIFY(!rig.onboarding->canSignIn());
    QVERIFY(!rig.onboarding->isSignInDimmed());
    QVERIFY(rig.settleUntil([&] { return !rig.onboarding->isSigningIn() || rig.completions > 0; }));
    rig.clock.runUntilIdle();
    QCOMPARE(rig.completions, completes ? 1 : 0);
    QCOMPARE(rig.defaults.boolForKey(OnboardingModel::onboardedKey), completes);
    if (!completes) {
        QCOMPARE(rig.onboarding->error().value_or(QString()),
                 QStringLiteral("Could not connect. Is the server running?"));
        QVERIFY(rig.onboarding->canSignIn());
        return;
    }
    QCOMPARE(rig.pipelineLog.syncs, QList<bool>{true}); // the log is uploaded at once
    QCOMPARE((QStringList{rig.defaults.stringValue(OnboardingModel::userNameKey).value_or(QString()),
                          rig.defaults.stringValue(OnboardingModel::userEmailKey).value_or(QString())}),
             (QStringList{QStringLiteral("Ada"), QStringLiteral("ada@example.com")}));
    QCOMPARE(rig.defaults.boolValue(OnboardingModel::automaticChecksKey), std::optional<bool>(false));
    QCOMPARE(rig.launchAtLoginEnabled, 1);
}

void TestOnboardingModel::skipKeepsNeitherNameNorEmail()
{
    OnboardingRig rig;
    rig.onboarding->setName(QStringLiteral("Ada"));
    rig.onboarding->setEmail(QStringLiteral("ada@example.com"));
    rig.onboarding->skip();
    rig.clock.runUntilIdle();
    QCOMPARE(rig.completions, 1);
    QVERIFY(rig.defaults.boolForKey(OnboardingModel::onboardedKey));
    QCOMPARE(rig.defaults.boolValue(OnboardingModel::automaticChecksKey), std::optional<bool>(true));
    QCOMPARE(rig.launchAtLoginEnabled, 1);
    QVERIFY(!rig.defaults.contains(OnboardingModel::userNameKey));
    QVERIFY(!rig.defaults.contains(OnboardingModel::userEmailKey));
}

void TestOnboardingModel::closingFinishesNothing()
{
    OnboardingRig rig;
    rig.onboarding->getStarted();
    rig.onboarding->setVisible(false);
    rig.clock.advance(10);
    QCOMPARE(rig.completions, 0);
    QVERIFY(!rig.defaults.contains(OnboardingModel::onboardedKey));
}

QTEST_GUILESS_MAIN(TestOnboardingModel)
#include "tst_onboardingmodel.moc"
