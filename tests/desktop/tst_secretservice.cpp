// The Secret Service adapter against a real GNOME Keyring in a private session, and the keychain store's
// fallback where no keyring answers. QUENDA_SECRETS_EXPECT says which situation the test runs in:
//   keyring     an unlocked GNOME Keyring runs on the session bus (scripts/session.sh, part "keyring")
//   no-service  the session bus offers no Secret Service at all (a bus without service files)
//   no-keyring  a desktop session without a running keyring: the bus may start one on demand, which cannot
//               unlock without a prompt; every call must still come back
#include "base/QtScheduler.h"
#include "fakes/LogCapture.h"
#include "net/FileSecretStore.h"
#include "net/KeychainStore.h"
#include "platform/linux/SecretServiceStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace quenda;
using quenda::linux_platform::SecretServiceStore;

namespace {

const QString kService = QStringLiteral("com.quenda.Quenda");
constexpr int kTimeout = 2000;

QString expectation()
{
    return qEnvironmentVariable("QUENDA_SECRETS_EXPECT", QStringLiteral("keyring"));
}

} // namespace

class TestSecretService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qInfo("running as: %s", qPrintable(expectation())); }
    void keyringRoundTrip();
    void fallbackFileWhenNoServiceAnswers();
    void aKeyringThatHangsHoldsUpNobody();
};

void TestSecretService::keyringRoundTrip()
{
    if (expectation() != QLatin1String("keyring"))
        QSKIP("needs a running keyring");
    SecretServiceStore store(kTimeout * 2);
    const QString account = QStringLiteral("test_account");
    QCOMPARE(store.read(kService, account).status, SecretStore::Status::NotFound);
    const QString value = QString::fromUtf8("s3cr\u00e9t \U0001F511 value");
    QCOMPARE(store.write(kService, account, value), SecretStore::Status::Ok);
    QCOMPARE(store.read(kService, account).value, value);
    QCOMPARE(store.write(kService, account, QStringLiteral("second")), SecretStore::Status::Ok);
    QCOMPARE(store.read(kService, account).value, QStringLiteral("second"));

    // The item is a real Secret Service item that other tools see.
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels); // the attributes are written to standard error
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("server"), kService});
    QVERIFY(tool.waitForFinished(10000));
    const QString listing = QString::fromUtf8(tool.readAllStandardOutput());
    QVERIFY2(listing.contains(account), qPrintable(listing));

    QCOMPARE(store.remove(kService, account), SecretStore::Status::Ok);
    QCOMPARE(store.read(kService, account).status, SecretStore::Status::NotFound);
    QVERIFY(store.remove(kService, account) != SecretStore::Status::Unavailable);
}

void TestSecretService::fallbackFileWhenNoServiceAnswers()
{
    if (expectation() == QLatin1String("keyring"))
        QSKIP("a keyring answers here");
    QTemporaryDir dir;
    const QString fallback = dir.filePath(QStringLiteral("config/Quenda/secrets.json"));
    SecretServiceStore system(kTimeout);
    KeychainStore store(&system, fallback);
    if (expectation() == QLatin1String("no-service"))
        QCOMPARE(system.read(kService, KeychainStore::authTokenAccount).status,
                 SecretStore::Status::Unavailable);
    store.save(KeychainStore::authTokenAccount, QStringLiteral("tok-fallback"));
    QCOMPARE(store.read(KeychainStore::authTokenAccount), QStringLiteral("tok-fallback"));
    if (expectation() == QLatin1String("no-service"))
        QVERIFY(store.isUsingFallback());
    if (store.isUsingFallback()) {
        QCOMPARE(QFile::permissions(fallback), // 0600
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(FileSecretStore(fallback).read(kService, KeychainStore::authTokenAccount).value,
                 QStringLiteral("tok-fallback"));
    }
    store.remove(KeychainStore::authTokenAccount);
    QVERIFY(!store.read(KeychainStore::authTokenAccount));
}

void TestSecretService::aKeyringThatHangsHoldsUpNobody()
{
    if (expectation() != QLatin1String("keyring"))
        QSKIP("needs a running keyring");
    QTemporaryDir dir;
    SecretServiceStore system(kTimeout);
    const QString fallback = dir.filePath(QStringLiteral("secrets.json"));
    KeychainStore store(&system, fallback);
    store.save(KeychainStore::groqAccount, QStringLiteral("gsk-kept"));
    QVERIFY(!store.isUsingFallback());
    QVERIFY(!QFile::exists(fallback)); // in the keyring only

    // This session's keyring daemon, found by its name on this session's bus, stops answering.
    const QDBusReply<uint> daemon =
        QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("org.freedesktop.secrets"));
    QVERIFY(daemon.isValid());
    const pid_t pid = pid_t(daemon.value());
    QCOMPARE(::kill(pid, SIGSTOP), 0);
    auto resume = qScopeGuard([pid] { ::kill(pid, SIGCONT); });

    fakes::LogCapture logs;
    QtScheduler mainQueue;
    std::optional<std::optional<QString>> told;
    store.readInBackground(KeychainStore::groqAccount, mainQueue,
                           [&](std::optional<QString> value) { told = std::move(value); });
    // The caller went on before the keyring's time was up: nothing is said yet.
    QVERIFY(logs.linesWith(QStringLiteral("[Keychain]")).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(told.has_value(), kTimeout * 3);
    QCOMPARE(*told, std::nullopt);
    QVERIFY(store.isUsingFallback());
    QCOMPARE(logs.linesWith(QStringLiteral("[Keychain] The keyring did not answer within 2 s")).size(), 1);

    // Back again: the key nobody could read is still there, untouched.
    resume.dismiss();
    QCOMPARE(::kill(pid, SIGCONT), 0);
    QTRY_COMPARE_WITH_TIMEOUT(store.read(KeychainStore::groqAccount),
                              std::optional(QStringLiteral("gsk-kept")), kTimeout * 3);
    store.remove(KeychainStore::groqAccount);
}

QTEST_GUILESS_MAIN(TestSecretService)
#include "tst_secretservice.moc"
