#include "fakes/FileChecks.h"
#include "fakes/ScriptedSecretStore.h"
#include "net/FileSecretStore.h"
#include "net/KeychainStore.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

class TestKeychainStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fallbackFileWhenNoStoreAnswers();
    void fileStoreIsPrivateAndSurvivesGarbage();
};

// (The fallback file's mode and contents: the desktop secret-service test, with no keyring on the bus.)
void TestKeychainStore::fallbackFileWhenNoStoreAnswers()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config/Quenda/secrets.json"));
    ScriptedSecretStore system;
    system.available = false;
    KeychainStore store(&system, path);
    store.save(KeychainStore::authTokenAccount, QStringLiteral("tok"));
    QVERIFY(store.isUsingFallback());
    QCOMPARE(system.calls, 1); // an unanswered delete is not followed by a write that would wait again

    // The store comes back: the copy saved meanwhile is still found, and moves in at the next save.
    system.available = true;
    QCOMPARE(store.read(KeychainStore::authTokenAccount), QStringLiteral("tok"));
    QVERIFY(!store.isUsingFallback());
    store.save(KeychainStore::authTokenAccount, QStringLiteral("tok2"));
    QCOMPARE(FileSecretStore(path).read(KeychainStore::service, KeychainStore::authTokenAccount).status,
             SecretStore::Status::NotFound);
    QCOMPARE(store.read(KeychainStore::authTokenAccount), QStringLiteral("tok2"));
}

void TestKeychainStore::fileStoreIsPrivateAndSurvivesGarbage()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("secrets.json"));
    const QByteArray garbage("\x00\xff not json", 11);
    QVERIFY(writeFile(path, garbage));
    FileSecretStore file(path);
    QCOMPARE(file.read(QStringLiteral("s"), QStringLiteral("a")).status, SecretStore::Status::NotFound);
    for (const QString& account : {QStringLiteral("a"), QStringLiteral("b")})
        QCOMPARE(file.write(QStringLiteral("s"), account, QStringLiteral("v") + account),
                 SecretStore::Status::Ok);
    QCOMPARE(file.read(QStringLiteral("s"), QStringLiteral("a")).value, QStringLiteral("va"));
    QVERIFY(onlyTheUserCanRead(path));
    // The unreadable file was kept aside, once, before the first write replaced it.
    const QStringList copies = QDir(dir.path()).entryList({QStringLiteral("secrets.json.unreadable-*")});
    QCOMPARE(copies.size(), 1);
    QCOMPARE(contents(dir.filePath(copies.first())), garbage);
    QVERIFY(onlyTheUserCanRead(dir.filePath(copies.first())));
    QCOMPARE(file.remove(QStringLiteral("s"), QStringLiteral("a")), SecretStore::Status::Ok);
    QCOMPARE(file.remove(QStringLiteral("s"), QStringLiteral("a")), SecretStore::Status::NotFound);
    QCOMPARE(file.read(QStringLiteral("s"), QStringLiteral("b")).value, QStringLiteral("vb"));
}

QTEST_GUILESS_MAIN(TestKeychainStore)
#include "tst_keychainstore.moc"
