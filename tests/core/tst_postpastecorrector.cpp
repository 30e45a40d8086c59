#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "core/PostPasteCorrector.h"
#include "fakes/FakeFocusedValueReader.h"
#include "fakes/FakeServices.h"
#include "fakes/LogCapture.h"
#include "text/PersonalDictionary.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

struct Rig {
    QTemporaryDir dir;
    VirtualScheduler clock;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    PersonalDictionary dictionary{defaults, clock};
    FakeFocusedValueReader reader;
    FakeTrainingLog training;
    LogCapture logs;
    PostPasteCorrector corrector{reader, training, dictionary, clock};

    QStringList capture(const QString& inserted, const std::optional<QString>& field)
    {
        PostPasteRecord record;
        record.insertedText = inserted;
        record.rawText = QStringLiteral("the raw words");
        record.target = InsertionTarget{QStringLiteral("org.gnome.TextEditor"), 77, nullptr};
        record.appBundleID = QStringLiteral("org.gnome.TextEditor");
        reader.value = field;
        logs.clear();
        corrector.capturePostPasteCorrection(record);
        return logs.lines();
    }
};

} // namespace

class TestPostPasteCorrector : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void similarity_data();
    void similarity();
    void regionFinding();
    void readBacks_data();
    void readBacks();
    void moderateEditIsLoggedAndLearned();
};

void TestPostPasteCorrector::similarity_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<double>("expected");
    QTest::newRow("equal") << QStringLiteral("same text") << QStringLiteral("same text") << 1.0;
    QTest::newRow("abcd abxd") << QStringLiteral("abcd") << QStringLiteral("abxd") << 0.5;
    QTest::newRow("xabc abc") << QStringLiteral("xabc") << QStringLiteral("abc") << 0.0;
    QTest::newRow("case matters") << QStringLiteral("Abc") << QStringLiteral("abc") << 0.0;
    QTest::newRow("canonical equivalence")
        << QString::fromUtf8("caf\u00e9") << QString::fromUtf8("cafe\u0301") << 1.0;
    QTest::newRow("emoji are one character")
        << QString::fromUtf8("a\U0001F44D\U0001F3FDb") << QString::fromUtf8("a\U0001F44Db") << 1.0 / 3.0;
}

void TestPostPasteCorrector::similarity()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(double, expected);
    QCOMPARE(PostPasteCorrector::textSimilarity(a, b), expected);
}

void TestPostPasteCorrector::regionFinding()
{
    const QString inserted(25, QLatin1Char('i'));
    const QString field(30, QLatin1Char('f'));
    QCOMPARE(PostPasteCorrector::findInsertedRegion(inserted, field), field); // 25 + 10 >= 30

    // The greedy match stops at the first character that does not occur in the rest: an edit late in the
    // sentence keeps the region similar, one at its start would not.
    const QString sentence = QStringLiteral("Please send the report to Anna by Friday.");
    const QString edited = QStringLiteral("Please send the report to Anna by Monday.");
    const QString longField = QStringLiteral("Dear team, as discussed this morning in our meeting: ") +
                              edited +
                              QStringLiteral(" Thanks a lot, and have a good weekend everyone. Best, Bob");
    const std::optional<QString> region = PostPasteCorrector::findInsertedRegion(sentence, longField);
    QVERIFY(region);
    QVERIFY2(PostPasteCorrector::textSimilarity(sentence, *region) > 0.4, qPrintable(*region));
    QVERIFY(longField.contains(*region));
}

void TestPostPasteCorrector::readBacks_data()
{
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("field"); // null: unreadable
    QTest::addColumn<QString>("line");  // the line that says what was decided
    QTest::addColumn<bool>("logged");
    const QString unreadable = QString::fromUtf8(
        "[PostPaste] Read-back failed \u2014 app doesn't support AX value reading (target: %1). Skipping for "
        "this app.");
    QTest::newRow("unchanged") << QStringLiteral("Hello there.")
                               << QStringLiteral(
                                      "Some long text before it. Hello there. And a lot more after it.")
                               << QStringLiteral("[PostPaste] No edits detected") << false;
    QTest::newRow("unreadable") << QStringLiteral("x") << QString()
                                << unreadable.arg(QStringLiteral("org.gnome.TextEditor")) << false;
    QTest::newRow("replaced entirely")
        << QStringLiteral("abcdefghijklmnopqrstuvwxyz")
        << QStringLiteral("0123456789 0123456789 0123456789 0123456789 0123456789")
        << QString::fromUtf8("[PostPaste] Could not find inserted text region in field \u2014 user may have "
                             "cleared/replaced entirely")
        << false;
    QTest::newRow("similarity 30%")
        << QStringLiteral("abcdefghij") << QStringLiteral("abcxxxxxxx")
        << QString::fromUtf8("[PostPaste] Region found but similarity too low (30%) \u2014 skipping")
        << false;
    QTest::newRow("similarity 31%") << QString(31, QLatin1Char('a')) + QString(69, QLatin1Char('b'))
                                    << QString(31, QLatin1Char('a')) + QString(69, QLatin1Char('c'))
                                    << QStringLiteral(
                                           "[PostPaste] User correction detected (similarity: 31%)")
                                    << true;
}

void TestPostPasteCorrector::readBacks()
{
    QFETCH(QString, inserted);
    QFETCH(QString, field);
    QFETCH(QString, line);
    QFETCH(bool, logged);
    Rig rig;
    const QStringList lines =
        rig.capture(inserted, field.isNull() ? std::nullopt : std::optional<QString>(field));
    QVERIFY2(lines.contains(line), qPrintable(lines.join(QLatin1Char('\n'))));
    QCOMPARE(rig.training.entries.size(), logged ? 1 : 0);
    QCOMPARE(rig.reader.targets.last()->processIdentifier, 77);
}

void TestPostPasteCorrector::moderateEditIsLoggedAndLearned()
{
    Rig rig;
    const QString inserted = QStringLiteral("I think teh answer is yes");
    const QString field = QStringLiteral("I think the answer is yes");
    const QStringList lines = rig.capture(inserted, field);
    QVERIFY(lines.contains(QStringLiteral("[PostPaste] User correction detected (similarity: 40%)")));
    QCOMPARE(rig.training.entries.size(), 1);
    const TrainingEntry& entry = rig.training.entries.first();
    QCOMPARE(entry.raw, QStringLiteral("the raw words"));
    QCOMPARE(entry.enhanced, inserted);
    QCOMPARE(entry.correction, field);
    QCOMPARE(entry.feedback, QStringLiteral("auto-corrected")); // exported as a corrected pair
    QCOMPARE(rig.training.syncs, QList<bool>{false});
    // The edit's word pair is counted; what a second sighting teaches is the dictionary's own test.
    QCOMPARE(rig.dictionary.correctionCounts().value(QStringLiteral("teh|the")), 1);
}

QTEST_GUILESS_MAIN(TestPostPasteCorrector)
#include "tst_postpastecorrector.moc"
