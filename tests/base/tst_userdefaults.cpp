#include "base/UserDefaults.h"

#include <QFile>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;

class TestUserDefaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void unreadableValuesReadAsAbsent_data();
    void unreadableValuesReadAsAbsent();
    void aHandEditedFileIsReadByType();
    void everyChangeIsAnnouncedAlsoFromAnotherWriter();
};

void TestUserDefaults::unreadableValuesReadAsAbsent_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("boolReadable");
    QTest::addColumn<bool>("integerReadable");
    QTest::newRow("yes") << QStringLiteral("YES") << true << false;
    QTest::newRow("number") << QStringLiteral(" 42 ") << false << true;
    QTest::newRow("fraction") << QStringLiteral("4.5") << false << false;
    QTest::newRow("empty") << QString() << false << false;
}

void TestUserDefaults::unreadableValuesReadAsAbsent()
{
    QFETCH(QString, stored);
    QFETCH(bool, boolReadable);
    QFETCH(bool, integerReadable);
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("Quenda.conf")));
    defaults.setString(QStringLiteral("key"), stored);
    QCOMPARE(defaults.boolValue(QStringLiteral("key")).has_value(), boolReadable);
    QCOMPARE(defaults.integerValue(QStringLiteral("key")).has_value(), integerReadable);
    QCOMPARE(defaults.dataValue(QStringLiteral("key")), std::optional<QByteArray>(stored.toUtf8()));
    if (!boolReadable)
        QVERIFY(!defaults.boolForKey(QStringLiteral("key")));
}

void TestUserDefaults::aHandEditedFileIsReadByType()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quenda.conf"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nhotkeyKeyCode=abc\nhotkeyModifiers=524288\ndevMode=true\n"
               "garbage line without equals\nsnippets=@ByteArray(not json)\n");
    file.close();
    UserDefaults defaults(path);
    QVERIFY(!defaults.integerValue(QStringLiteral("hotkeyKeyCode")));
    QCOMPARE(defaults.integerValue(QStringLiteral("hotkeyModifiers")), std::optional<qint64>(524288));
    QVERIFY(defaults.boolForKey(QStringLiteral("devMode")));
    QCOMPARE(defaults.dataValue(QStringLiteral("snippets")),
             std::optional<QByteArray>(QByteArrayLiteral("not json")));
}

void TestUserDefaults::everyChangeIsAnnouncedAlsoFromAnotherWriter()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quenda/Quenda.conf"));
    UserDefaults defaults(path);
    QSignalSpy changes(&defaults, &UserDefaults::changed);
    int nameChanges = 0;
    QObject context;
    defaults.onChange(QStringLiteral("userName"), &context, [&] { ++nameChanges; });

    defaults.setString(QStringLiteral("userName"), QStringLiteral("Ann"));
    defaults.setString(QStringLiteral("userName"), QStringLiteral("Ann")); // no change, no notice
    defaults.setInteger(QStringLiteral("hotkeyKeyCode"), 49);
    QCOMPARE(changes.size(), 2);
    QCOMPARE(nameChanges, 1);
    QCOMPARE(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());

    // Another process saves the file as QSettings and editors do: a new file renamed over the old one. Twice,
    // since the second save replaces the file the first one made.
    auto saveFromElsewhere = [&](const QByteArray& contents) {
        QSaveFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
        QVERIFY(file.commit());
    };
    changes.clear();
    saveFromElsewhere("[General]\nuserName=Bea\nhotkeyKeyCode=49\nsnippets=@ByteArray([])\n");
    QTRY_COMPARE(changes.size(), 2);
    QCOMPARE(defaults.stringValue(QStringLiteral("userName")), std::optional<QString>(QStringLiteral("Bea")));
    QCOMPARE(nameChanges, 2);
    changes.clear();
    saveFromElsewhere("[General]\nuserName=Bea\nhotkeyKeyCode=49\n");
    QTRY_COMPARE(changes.size(), 1);
    QCOMPARE(changes.first().first().toString(), QStringLiteral("snippets"));
    QVERIFY(!defaults.contains(QStringLiteral("snippets")));
}

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
