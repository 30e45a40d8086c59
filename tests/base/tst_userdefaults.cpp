#include "base/UserDefaults.h"
#include "fakes/FileChecks.h"

#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;

class TestUserDefaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aHandEditedFileIsReadByType();
    void everyChangeIsAnnouncedAlsoFromAnotherWriter();
};

// A value of the wrong type reads as absent (and so as the default), and stays there as it was.
void TestUserDefaults::aHandEditedFileIsReadByType()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quenda.conf"));
    QVERIFY(fakes::writeFile(path,
                             "[General]\nyes=YES\nnumber=\" 42 \"\nfraction=4.5\nempty=\nhotkeyKeyCode=abc\n"
                             "garbage line without equals\nsnippets=@ByteArray(not json)\n"));
    UserDefaults defaults(path);
    struct Expected {
        QString key;
        std::optional<bool> flag;
        std::optional<qint64> number;
    };
    for (const auto& [key, flag, number] :
         {Expected{QStringLiteral("yes"), true, {}}, Expected{QStringLiteral("number"), {}, 42},
          Expected{QStringLiteral("fraction"), {}, {}}, Expected{QStringLiteral("empty"), {}, {}},
          Expected{QStringLiteral("hotkeyKeyCode"), {}, {}}}) {
        QCOMPARE(defaults.boolValue(key), flag);
        QCOMPARE(defaults.integerValue(key), number);
    }
    QVERIFY(!defaults.boolForKey(QStringLiteral("fraction")));
    QCOMPARE(defaults.dataValue(QStringLiteral("fraction")), std::optional<QByteArray>("4.5"));
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
    QVERIFY(fakes::onlyTheUserCanRead(path));

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
