#include "base/UserDefaults.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;

class TestUserDefaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void valuesSurviveAReopen();
    void unreadableValuesReadAsAbsent_data();
    void unreadableValuesReadAsAbsent();
    void aHandEditedFileIsReadByType();
};

void TestUserDefaults::valuesSurviveAReopen()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quenda.conf"));
    const QByteArray blob =
        QByteArrayLiteral("[{\"id\":\"A\",\"trigger\":\"sig\",\"expansion\":\"Best,\\nAnn\"}]");
    {
        UserDefaults defaults(path);
        defaults.setBool(QStringLiteral("permissions.prompted.accessibility"), true);
        defaults.setInteger(QStringLiteral("hotkeyKeyCode"), 49);
        defaults.setString(QStringLiteral("userName"), QStringLiteral("Zoë 👩🏽‍💻"));
        defaults.setData(QStringLiteral("snippets"), blob);
        defaults.setDouble(QStringLiteral("ratio"), 0.25);
        defaults.setString(QStringLiteral("doomed"), QStringLiteral("x"));
        defaults.remove(QStringLiteral("doomed"));
    }
    UserDefaults reopened(path); // every write goes to disk at once
    QCOMPARE(reopened.boolValue(QStringLiteral("permissions.prompted.accessibility")),
             std::optional<bool>(true));
    QCOMPARE(reopened.integerValue(QStringLiteral("hotkeyKeyCode")), std::optional<qint64>(49));
    QCOMPARE(reopened.stringValue(QStringLiteral("userName")),
             std::optional<QString>(QStringLiteral("Zoë 👩🏽‍💻")));
    QCOMPARE(reopened.dataValue(QStringLiteral("snippets")), std::optional<QByteArray>(blob));
    QCOMPARE(reopened.doubleValue(QStringLiteral("ratio")), std::optional<double>(0.25));
    QCOMPARE(reopened.displayValue(QStringLiteral("snippets")),
             std::optional<QString>(QString::fromUtf8(blob)));
    QStringList keys = reopened.allKeys();
    keys.sort();
    QCOMPARE(keys, (QStringList{QStringLiteral("hotkeyKeyCode"),
                                QStringLiteral("permissions.prompted.accessibility"), QStringLiteral("ratio"),
                                QStringLiteral("snippets"), QStringLiteral("userName")}));
}

void TestUserDefaults::unreadableValuesReadAsAbsent_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("boolReadable");
    QTest::addColumn<bool>("integerReadable");
    QTest::newRow("yes") << QStringLiteral("YES") << true << false;
    QTest::newRow("number") << QStringLiteral(" 42 ") << false << true;
    QTest::newRow("zero") << QStringLiteral("0") << true << true;
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
    QVERIFY(!defaults.stringValue(QStringLiteral("missing")));
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

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
