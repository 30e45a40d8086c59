#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "fakes/LogCapture.h"
#include "fakes/TableRows.h"
#include "text/Graphemes.h"
#include "text/PersonalDictionary.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using quenda::fakes::row;

namespace {
const QString kInserted = QStringLiteral("i think teh answer is yes");
const QString kEdited = QStringLiteral("I think the answer is yes");

struct Rig {
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("defaults.conf"))};
    VirtualScheduler queue;
    fakes::LogCapture logs;

    QJsonObject storedCounts() const
    {
        return QJsonDocument::fromJson(
                   defaults.dataValue(PersonalDictionary::correctionCountsKey).value_or(""))
            .object();
    }
};
} // namespace

class TestPersonalDictionary : public QObject {
    Q_OBJECT

private Q_SLOTS:

    void wordSubstitutions_data();
    void wordSubstitutions();
    void learnsOnSecondSighting();
    void storedCountsAreReloaded_data();
    void storedCountsAreReloaded();
    void learnedJobOutlivingTheStore();
};

void TestPersonalDictionary::wordSubstitutions_data()
{
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("edited");
    QTest::addColumn<QString>("pairs"); // "misheard|correct" joined by ", ", in the returned order
    row("one substitution", "i think teh answer is yes", "I think the answer is yes", "teh|the");
    row("case only", "i like json", "I like JSON", "");
    row("punctuation is a change", "is it yes", "is it yes.", "yes|yes.");
    row("single character before", "a cat", "the cat", "");
    row("last substitution first", "teh fox jumpd", "the fox jumped", "jumpd|jumped, teh|the");
    row("additions and removals only", "please send it", "send it right now", "");
    row("tie pairs the nearer word", "teh big dog", "the dog", "big|the");
}

void TestPersonalDictionary::wordSubstitutions()
{
    QFETCH(QString, inserted);
    QFETCH(QString, edited);
    QStringList pairs;
    for (const auto& [misheard, correct] : PersonalDictionary::wordSubstitutions(
             graphemes::words(inserted.toLower()), graphemes::words(edited)))
        pairs.append(misheard + QLatin1Char('|') + correct);
    QTEST(pairs.join(QStringLiteral(", ")), "pairs");
}

void TestPersonalDictionary::learnsOnSecondSighting()
{
    Rig rig;
    PersonalDictionary dictionary(rig.defaults, rig.queue);
    dictionary.addEntry(QStringLiteral("teh"), QStringLiteral("The")); // other case: does not cover teh → the
    QSignalSpy changed(&dictionary, &PersonalDictionary::entriesChanged);

    dictionary.learnCorrections(kInserted, kEdited);
    QCOMPARE(rig.storedCounts().value(QLatin1String("teh|the")).toInt(), 1);

    dictionary.learnCorrections(kInserted, kEdited);
    // The count goes at once; the entry only when the main queue runs.
    QVERIFY(rig.storedCounts().isEmpty());
    QCOMPARE(dictionary.entries().size(), 1);
    rig.queue.runUntilIdle();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(dictionary.entries().at(1).correct, QStringLiteral("the"));

    // Known now: neither counted nor added again.
    dictionary.learnCorrections(kInserted, kEdited);
    QVERIFY(dictionary.correctionCounts().isEmpty());
    QCOMPARE(rig.queue.pendingCount(), 0);

    // Two sightings in one edit are enough.
    dictionary.learnCorrections(QStringLiteral("recieve it and recieve"),
                                QStringLiteral("receive it and receive"));
    rig.queue.runUntilIdle();
    QCOMPARE(dictionary.entries().size(), 3);
    QVERIFY(dictionary.correctionCounts().isEmpty());
}

void TestPersonalDictionary::storedCountsAreReloaded_data()
{
    QTest::addColumn<QByteArray>("stored"); // written between the first and the second sighting
    QTest::addColumn<bool>("added");        // whether the second sighting adds the entry
    QTest::addColumn<QJsonObject>("left");  // the counts stored afterwards
    QTest::addColumn<int>("copies");        // of a value not read in full, kept before it is overwritten

    QTest::newRow("another instance's counts")
        << QByteArray(R"({"teh|the":1})") << true << QJsonObject() << 0;
    QTest::newRow("reset by another instance")
        << QByteArray(R"({"other|pair":3})") << false
        << QJsonObject{{QStringLiteral("other|pair"), 3}, {QStringLiteral("teh|the"), 1}} << 0;
    QTest::newRow("not JSON: memory kept") << QByteArray("{teh") << true << QJsonObject() << 1;
    QTest::newRow("damaged: what can be read is kept")
        << QByteArray(R"({"teh|the":1,"a|b":"x","c|d":3)") << true << QJsonObject{{QStringLiteral("c|d"), 3}}
        << 1;
}

void TestPersonalDictionary::storedCountsAreReloaded()
{
    Rig rig;
    QFETCH(QByteArray, stored);
    QFETCH(bool, added);
    QFETCH(int, copies);
    PersonalDictionary dictionary(rig.defaults, rig.queue);
    dictionary.learnCorrections(kInserted, kEdited);
    rig.defaults.setData(PersonalDictionary::correctionCountsKey, stored);

    dictionary.learnCorrections(kInserted, kEdited);
    rig.queue.runUntilIdle();
    QCOMPARE(dictionary.entries().size(), added ? 1 : 0);
    QTEST(rig.storedCounts(), "left");
    const QString pattern = QStringLiteral("personalDictionaryCorrectionCounts.unreadable-*.json");
    QCOMPARE(QDir(rig.dir.path()).entryList({pattern}).size(), copies);
}

void TestPersonalDictionary::learnedJobOutlivingTheStore()
{
    Rig rig;
    auto dictionary = std::make_unique<PersonalDictionary>(rig.defaults, rig.queue);
    dictionary->learnCorrections(kInserted, kEdited);
    dictionary->learnCorrections(kInserted, kEdited);
    dictionary.reset();
    rig.queue.runUntilIdle();
    QVERIFY(rig.logs.lines().isEmpty());
}

QTEST_GUILESS_MAIN(TestPersonalDictionary)
#include "tst_personaldictionary.moc"
