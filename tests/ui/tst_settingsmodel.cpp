#include "UiRig.h"
#include "base/Wording.h"
#include "fakes/FileChecks.h"
#include "ui/settings/SettingsModel.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {
struct SettingsRig : UiRig {
    QList<QUrl> opened;
    int relaunches = 0;
    bool speechReady = true;
    bool launchAtLogin = false;
    std::unique_ptr<SettingsModel> settings;

    SettingsRig()
    {
        SettingsModel::Services s{&clock,       &defaults,     orchestrator.get(), &hotkey,     &microphone,
                                  &permissions, backend.get(), &keychain,          &trainingLog};
        SettingsModel::Hooks hooks;
        hooks.isLaunchAtLoginEnabled = [this] { return launchAtLogin; };
        hooks.setLaunchAtLogin = [this](bool) {}; // the desktop refuses: the switch shows the truth
        hooks.isSpeechEngineReady = [this] { return speechReady; };
        hooks.openUrl = [this](const QUrl& url) { opened << url; };
        hooks.relaunch = [this] { ++relaunches; };
        settings = std::make_unique<SettingsModel>(s, hooks);
    }
    void settle()
    {
        for (int round = 0; round < 3; ++round) {
            settings->waitForBackgroundWork();
            UiRig::settle();
        }
    }
    PermissionRow row(PermissionRow::Kind kind) const
    {
        for (const PermissionRow& r : settings->permissionRows())
            if (r.kind == kind)
                return r;
        return {};
    }
};

TrainingEntry pair(const char* raw, const char* enhanced)
{
    TrainingEntry entry;
    entry.raw = QString::fromUtf8(raw);
    entry.enhanced = QString::fromUtf8(enhanced);
    entry.timestamp = QStringLiteral("2026-12-06T10:00:00Z");
    return entry;
}
} // namespace

class TestSettingsModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void groqKeyIsSavedAndShownForTwoSeconds();
    void signInAndOut_data();
    void signInAndOut();
    void permissionRows();
    void resetPermissionsOffersTheRestart();
    void trainingData();
    void launchAtLoginShowsTheDesktopsAnswer();
};

void TestSettingsModel::groqKeyIsSavedAndShownForTwoSeconds()
{
    SettingsRig rig;
    rig.settings->refresh();
    rig.settle();
    QVERIFY(!rig.settings->groqKeyConfigured());
    rig.settings->setGroqAPIKey(QStringLiteral(" gsk_key "));
    rig.settings->saveGroqKey();
    QVERIFY(rig.settings->groqAPIKey().isEmpty());
    rig.settle();
    QVERIFY(rig.settings->showKeySaved());
    QCOMPARE(rig.settings->keySavedText(), Wording::keySaved(false)); // no keyring here: the file says so
    QVERIFY(rig.settings->groqKeyConfigured());
    QCOMPARE(rig.keychain.read(KeychainStore::groqAccount),
             std::optional<QString>(QStringLiteral(" gsk_key ")));
    rig.clock.advance(1.9);
    QVERIFY(rig.settings->showKeySaved());
    rig.clock.advance(0.2);
    QVERIFY(!rig.settings->showKeySaved());
}

// The accepted sign-in and the sign-out are driven through the window on the desktop; here the refusals.
void TestSettingsModel::signInAndOut_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");
    QTest::newRow("refused") << 403 << QByteArray("{}")
                             << QStringLiteral("Not authenticated with Quenda backend");
    QTest::newRow("no token") << 200 << QByteArray(R"({"id":1})")
                              << QStringLiteral("Could not parse server response");
}

void TestSettingsModel::signInAndOut()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    SettingsRig rig;
    rig.server.enqueue(FakeReply::json(status, body));
    rig.settings->refresh();
    rig.settings->setSignInName(QStringLiteral("Ada"));
    rig.settings->setSignInEmail(QStringLiteral("ada@example.com"));
    rig.settings->signIn();
    QVERIFY(!rig.settings->canSignIn()); // no second request while one is under way
    QVERIFY(rig.settleUntil([&] { return !rig.settings->connectingToBackend(); }));
    QCOMPARE(rig.settings->backendError().value_or(QString()), error);
    QVERIFY(!rig.settings->backendConnected());
    QVERIFY(!rig.keychain.read(KeychainStore::authTokenAccount));
}

void TestSettingsModel::permissionRows()
{
    using Kind = PermissionRow::Kind;
    SettingsRig rig;
    rig.permissions.post = true;
    rig.speechReady = false;
    rig.settings->refresh();

    // Asking turns accessibility on where it can; help shows only where it could not.
    rig.permissions.accessibility = false;
    rig.settings->runPermissionAction(Kind::accessibility);
    QVERIFY(rig.permissions.calls.contains(QStringLiteral("promptAccessibility")));
    QVERIFY(rig.permissions.calls.contains(QStringLiteral("openSettingsPane 0")));
    QCOMPARE(rig.row(Kind::accessibility).help, Wording::permissionHelp(Wording::Permission::accessibility));
    rig.permissions.accessibility = true;
    rig.settings->refreshPermissions();
    QVERIFY(rig.row(Kind::accessibility).granted);
    QVERIFY(rig.row(Kind::accessibility).help.isEmpty());

    rig.settings->runPermissionAction(Kind::automation);
    rig.clock.runUntilIdle();
    QCOMPARE(rig.settings->lastInsertionStatus(),
             QStringLiteral("Quenda still needs Automation access to System Events for paste fallback."));
    QVERIFY(!rig.row(Kind::speechRecognition).granted);
    rig.speechReady = true;
    rig.settings->runPermissionAction(Kind::speechRecognition);
    QVERIFY(rig.row(Kind::speechRecognition).granted);
}

void TestSettingsModel::resetPermissionsOffersTheRestart()
{
    SettingsRig rig;
    rig.defaults.setBool(DictationOrchestrator::accessibilityPromptKey, true);
    rig.defaults.setBool(DictationOrchestrator::automationGrantedKey, true);
    rig.settings->resetPermissions();
    QVERIFY(!rig.defaults.contains(DictationOrchestrator::accessibilityPromptKey));
    QVERIFY(!rig.defaults.contains(DictationOrchestrator::automationGrantedKey));
    QVERIFY(rig.defaults.boolForKey(SettingsModel::permissionsWereResetKey));
    QVERIFY(rig.settings->showRestartAlert());
    rig.settings->dismissRestartAlert(); // "Later"
    QCOMPARE(rig.relaunches, 0);
    rig.settings->resetPermissions();
    rig.settings->restartNow();
    QCOMPARE(rig.relaunches, 1);
    QVERIFY(!rig.settings->showRestartAlert());
}

void TestSettingsModel::trainingData()
{
    SettingsRig rig;
    rig.settings->openTrainingLog(); // no log yet: its folder is made and shown
    QCOMPARE(rig.opened, QList<QUrl>{QUrl::fromLocalFile(rig.dir.path())});

    rig.trainingLog.log(pair("um hi", "Hi."));
    rig.trainingLog.log(pair("teh cat", "The cat."));
    rig.trainingLog.recordFeedback(QStringLiteral("The cat."), FeedbackType::bad, QStringLiteral("The hat."),
                                   std::nullopt);
    rig.trainingLog.waitForPendingWork();
    rig.settings->refresh();
    rig.settle();
    QCOMPARE(rig.settings->pairsCollected(), 2);
    QCOMPARE(rig.settings->correctionsFlagged(), 1);
    rig.settings->openTrainingLog();
    QCOMPARE(rig.opened.last(), QUrl::fromLocalFile(rig.dir.filePath(QStringLiteral("training-data.jsonl"))));

    const QString exported = rig.dir.filePath(QStringLiteral("out/") + SettingsModel::exportFileName);
    QDir().mkpath(QFileInfo(exported).absolutePath());
    rig.settings->exportTrainingData(exported);
    rig.settle();
    QCOMPARE(QString::fromUtf8(fakes::contents(exported)), rig.trainingLog.exportForFineTuning());
    QVERIFY(fakes::onlyTheUserCanRead(exported));
}

void TestSettingsModel::launchAtLoginShowsTheDesktopsAnswer()
{
    SettingsRig rig;
    QSignalSpy changed(rig.settings.get(), &SettingsModel::changed);
    rig.settings->setLaunchAtLogin(true);
    QVERIFY(!rig.settings->launchAtLogin());
    QVERIFY(!changed.isEmpty());
    rig.launchAtLogin = true;
    rig.settings->refresh();
    QVERIFY(rig.settings->launchAtLogin());
}

QTEST_GUILESS_MAIN(TestSettingsModel)
#include "tst_settingsmodel.moc"
