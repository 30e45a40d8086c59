#include "text/Graphemes.h"

#include <QTest>

using namespace quenda;

// Characters made of several UTF-16 units: a surrogate pair, a skin-tone modifier, a ZWJ family, a flag,
// and a letter with a combining accent.
namespace {
const QString kFamily = QStringLiteral("👩‍👩‍👧");
const QString kWave = QStringLiteral("👋🏽");
const QString kFlag = QStringLiteral("🇩🇪");
const QString kAccent = QStringLiteral("e\u0301");
} // namespace

class TestGraphemes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void countsUserPerceivedCharacters_data();
    void countsUserPerceivedCharacters();
    void prefixesAndSlicesNeverSplitACharacter();
    void wordsSplitAtSpacesOnly();
};

void TestGraphemes::countsUserPerceivedCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("characters");
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("family") << kFamily << 1;
    QTest::newRow("combining accent") << kAccent << 1;
    QTest::newRow("crlf") << QStringLiteral("a\r\nb") << 3;
}

void TestGraphemes::countsUserPerceivedCharacters()
{
    QFETCH(QString, text);
    QFETCH(int, characters);
    QCOMPARE(graphemes::count(text), characters);
    QCOMPARE(graphemes::split(text).size(), characters);
    QCOMPARE(graphemes::split(text).join(QString()), text);
}

void TestGraphemes::prefixesAndSlicesNeverSplitACharacter()
{
    const QString text = QStringLiteral("ab") + kWave + QStringLiteral("cd") + kFlag;
    QCOMPARE(graphemes::prefix(text, 3), QStringLiteral("ab") + kWave);
    QCOMPARE(graphemes::dropPrefix(text, 3), QStringLiteral("cd") + kFlag);
    QCOMPARE(graphemes::prefix(text, 10), text);
    QCOMPARE(graphemes::clip(kFamily + QStringLiteral("xyz"), 1), kFamily + QStringLiteral("..."));
    for (int inside : {3, 4, 5}) // within the wave and its skin tone
        QVERIFY(!graphemes::isBoundary(text, inside));
}

void TestGraphemes::wordsSplitAtSpacesOnly()
{
    QCOMPARE(graphemes::words(QStringLiteral("  i think\tteh  answer\nis ")),
             (QStringList{QStringLiteral("i"), QStringLiteral("think\tteh"), QStringLiteral("answer\nis")}));
    QVERIFY(graphemes::words(QStringLiteral("   ")).isEmpty());
}

QTEST_GUILESS_MAIN(TestGraphemes)
#include "tst_graphemes.moc"
