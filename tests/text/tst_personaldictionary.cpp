#include "base/Log.h"
#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "text/Graphemes.h"
#include "text/PersonalDictionary.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace quenda;

namespace {
const QString kInserted = QStringLiteral("i think teh answer is yes");
const QString kEdited = QStringLiteral("I think the answer is yes");
const QString kLearnedLine =
    QStringLiteral("[PersonalDictionary] Auto-learned: \"teh\" → \"the\" (seen 2 times)");
} // namespace

class TestPersonalDictionary : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void wordSubstitutions_data();
    void wordSubstitutions();
    void learnsOnSecondSighting();
    void storedCountsAreReloaded_data();
    void storedCountsAreReloaded();
    void learnedJobOutlivingTheStore();
    void entriesPromptAndRequest();
    void corruptEntries_data();
    void corruptEntries();
    void sharedUsesTheInstalledQueue();

private:
    QJsonObject storedCounts() const
    {
        return QJsonDocument::fromJson(
                   m_defaults->dataValue(PersonalDictionary::correctionCountsKey).value_or(""))
            .object();
    }

    QTemporaryDir m_home;
    VirtualScheduler m_sharedQueue; // outlives the shared store's use in this process
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<VirtualScheduler> m_queue;
    QStringList m_logLines;
};

void TestPersonalDictionary::initTestCase()
{
    // shared() reads the user's own defaults: point them at a scratch directory.
    QVERIFY(m_home.isValid());
    qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
}

void TestPersonalDictionary::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_defaults = std::make_unique<UserDefaults>(m_dir->filePath(QStringLiteral("defaults.conf")));
    m_queue = std::make_unique<VirtualScheduler>();
    m_logLines.clear();
    Log::setSink([this](const QString& line) { m_logLines.append(line); });
}

void TestPersonalDictionary::cleanup()
{
    Log::setSink({});
    m_queue.reset();
    m_defaults.reset();
    m_dir.reset();
}

void TestPersonalDictionary::wordSubstitutions_data()
{
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("edited");
    QTest::addColumn<QStringList>("pairs"); // "misheard|correct", as returned

    QTest::newRow("one substitution") << kInserted << kEdited << QStringList{QStringLiteral("teh|the")};
    QTest::newRow("case only") << QStringLiteral("i like json") << QStringLiteral("I like JSON")
                               << QStringList{};
    QTest::newRow("punctuation is a change") << QStringLiteral("is it yes") << QStringLiteral("is it yes.")
                                             << QStringList{QStringLiteral("yes|yes.")};
    QTest::newRow("single character before")
        << QStringLiteral("a cat") << QStringLiteral("the cat") << QStringList{};
    QTest::newRow("single character after")
        << QStringLiteral("an apple") << QStringLiteral("a apple") << QStringList{};
    QTest::newRow("one character, two code units")
        << QStringLiteral("go e\u0301 now") << QStringLiteral("go ok now") << QStringList{};
    QTest::newRow("flag is one character")
        << QStringLiteral("go \U0001F1EB\U0001F1F7") << QStringLiteral("go france") << QStringList{};
    QTest::newRow("last substitution first")
        << QStringLiteral("teh fox jumpd") << QStringLiteral("the fox jumped")
        << QStringList{QStringLiteral("jumpd|jumped"), QStringLiteral("teh|the")};
    QTest::newRow("additions and removals only")
        << QStringLiteral("please send it") << QStringLiteral("send it right now") << QStringList{};
    QTest::newRow("tie pairs the nearer word") << QStringLiteral("teh big dog") << QStringLiteral("the dog")
                                               << QStringList{QStringLiteral("big|the")};
    QTest::newRow("runs of spaces") << QStringLiteral("  teh   end ") << QStringLiteral("the end")
                                    << QStringList{QStringLiteral("teh|the")};
    QTest::newRow("nothing edited") << QString() << QStringLiteral("anything") << QStringList{};
}

void TestPersonalDictionary::wordSubstitutions()
{
    QFETCH(QString, inserted);
    QFETCH(QString, edited);
    QStringList pairs;
    for (const auto& [misheard, correct] : PersonalDictionary::wordSubstitutions(
             graphemes::words(inserted.toLower()), graphemes::words(edited)))
        pairs.append(misheard + QLatin1Char('|') + correct);
    QTEST(pairs, "pairs");
}

void TestPersonalDictionary::learnsOnSecondSighting()
{
    PersonalDictionary dictionary(*m_defaults, *m_queue);
    dictionary.addEntry(QStringLiteral("teh"), QStringLiteral("The")); // other case: does not cover teh → the
    QSignalSpy changed(&dictionary, &PersonalDictionary::entriesChanged);

    dictionary.learnCorrections(kInserted, kEdited);
    QCOMPARE(dictionary.correctionCounts().value(QStringLiteral("teh|the")), 1);
    QCOMPARE(storedCounts().value(QLatin1String("teh|the")).toInt(), 1);
    QCOMPARE(m_queue->pendingCount(), 0);

    dictionary.learnCorrections(kInserted, kEdited);
    // The count goes at once; the entry only when the main queue runs.
    QVERIFY(dictionary.correctionCounts().isEmpty());
    QVERIFY(storedCounts().isEmpty());
    QCOMPARE(dictionary.entries().size(), 1);
    QCOMPARE(m_queue->pendingCount(), 1);
    m_queue->runUntilIdle();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(dictionary.entries().size(), 2);
    QCOMPARE(dictionary.entries().at(1).misheard, QStringLiteral("teh"));
    QCOMPARE(dictionary.entries().at(1).correct, QStringLiteral("the"));
    QCOMPARE(m_logLines, QStringList{kLearnedLine});

    // Known now: neither counted nor added again.
    dictionary.learnCorrections(kInserted, kEdited);
    QVERIFY(dictionary.correctionCounts().isEmpty());
    QCOMPARE(m_queue->pendingCount(), 0);

    // Two sightings in one edit are enough.
    dictionary.learnCorrections(QStringLiteral("recieve it and recieve"),
                                QStringLiteral("receive it and receive"));
    m_queue->runUntilIdle();
    QCOMPARE(dictionary.entries().size(), 3);
    QVERIFY(dictionary.correctionCounts().isEmpty());
}

void TestPersonalDictionary::storedCountsAreReloaded_data()
{
    QTest::addColumn<QByteArray>("stored"); // written between the first and the second sighting
    QTest::addColumn<bool>("added");        // whether the second sighting adds the entry

    QTest::newRow("another instance's counts") << QByteArray(R"({"teh|the":1})") << true;
    QTest::newRow("reset by another instance") << QByteArray(R"({"other|pair":3})") << false;
    QTest::newRow("fraction: memory kept") << QByteArray(R"({"teh|the":0.5})") << true;
    QTest::newRow("string: memory kept") << QByteArray(R"({"teh|the":"0"})") << true;
    QTest::newRow("list: memory kept") << QByteArray("[0]") << true;
    QTest::newRow("not JSON: memory kept") << QByteArray("{teh") << true;
}

void TestPersonalDictionary::storedCountsAreReloaded()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, added);
    PersonalDictionary dictionary(*m_defaults, *m_queue);
    dictionary.learnCorrections(kInserted, kEdited);
    m_defaults->setData(PersonalDictionary::correctionCountsKey, stored);

    dictionary.learnCorrections(kInserted, kEdited);
    m_queue->runUntilIdle();
    QCOMPARE(dictionary.entries().size(), added ? 1 : 0);
    if (!added) {
        QCOMPARE(dictionary.correctionCounts().value(QStringLiteral("teh|the")), 1);
        QCOMPARE(storedCounts().value(QLatin1String("other|pair")).toInt(), 3);
    }
}

void TestPersonalDictionary::learnedJobOutlivingTheStore()
{
    auto dictionary = std::make_unique<PersonalDictionary>(*m_defaults, *m_queue);
    dictionary->learnCorrections(kInserted, kEdited);
    dictionary->learnCorrections(kInserted, kEdited);
    dictionary.reset();
    m_queue->runUntilIdle();
    QVERIFY(m_logLines.isEmpty());
}

void TestPersonalDictionary::entriesPromptAndRequest()
{
    PersonalDictionary dictionary(*m_defaults, *m_queue);
    QCOMPARE(dictionary.promptSection(), QString());
    QSignalSpy changed(&dictionary, &PersonalDictionary::entriesChanged);

    dictionary.addEntry(QStringLiteral("Teh"), QStringLiteral("the"));
    dictionary.addEntry(QStringLiteral("teh"), QStringLiteral("the"));
    dictionary.addEntry(QString(), QStringLiteral("x"));
    dictionary.addEntry(QStringLiteral("x"), QString());
    QCOMPARE(dictionary.entries().size(), 2);
    QCOMPARE(dictionary.entries().at(0).misheard, QStringLiteral("teh"));
    dictionary.removeEntry(dictionary.entries().at(1).id);
    dictionary.removeEntry(QUuid::createUuid());
    dictionary.addEntry(QStringLiteral("jason"), QStringLiteral("JSON"));
    QCOMPARE(changed.count(), 4);

    QCOMPARE(dictionary.promptSection(),
             QStringLiteral("\n\nPersonal dictionary — always apply these corrections:\n"
                            "\"teh\" → \"the\"\n\"jason\" → \"JSON\""));
    const QList<QVariantMap> request = dictionary.requestDictionary();
    QCOMPARE(request.size(), 2);
    QCOMPARE(request.at(1), (QVariantMap{{QStringLiteral("misheard"), QStringLiteral("jason")},
                                         {QStringLiteral("correct"), QStringLiteral("JSON")}}));

    const QByteArray stored = *m_defaults->dataValue(PersonalDictionary::storageKey);
    QVERIFY(stored.contains(dictionary.entries().at(0).id.toString(QUuid::WithoutBraces).toUpper().toUtf8()));
    QCOMPARE(PersonalDictionary(*m_defaults, *m_queue).entries(), dictionary.entries());
}

void TestPersonalDictionary::corruptEntries_data()
{
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("element without correct")
        << QByteArray(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","misheard":"a","correct":"b"},)"
                      R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FE","misheard":"c"}])");
    QTest::newRow("id too short") << QByteArray(R"([{"id":"6F9619FF-8B86","misheard":"a","correct":"b"}])");
    QTest::newRow("correct is null") << QByteArray(
        R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","misheard":"a","correct":null}])");
    QTest::newRow("object, not a list") << QByteArray(R"({"misheard":"a","correct":"b"})");
    QTest::newRow("empty data") << QByteArray();
}

void TestPersonalDictionary::corruptEntries()
{
    QFETCH(QByteArray, stored);
    PersonalDictionary existing(*m_defaults, *m_queue);
    existing.addEntry(QStringLiteral("teh"), QStringLiteral("the"));
    const QList<DictionaryEntry> before = existing.entries();

    m_defaults->setData(PersonalDictionary::storageKey, stored);
    QVERIFY(PersonalDictionary(*m_defaults, *m_queue).entries().isEmpty());
    existing.loadEntries();
    QCOMPARE(existing.entries(), before);
}

void TestPersonalDictionary::sharedUsesTheInstalledQueue()
{
    PersonalDictionary::setSharedScheduler(&m_sharedQueue);
    PersonalDictionary& shared = PersonalDictionary::shared();
    QCOMPARE(&PersonalDictionary::shared(), &shared);

    shared.learnCorrections(kInserted, kEdited);
    shared.learnCorrections(kInserted, kEdited);
    QVERIFY(shared.entries().isEmpty());
    m_sharedQueue.runUntilIdle();
    QCOMPARE(shared.entries().size(), 1);
    QVERIFY(UserDefaults::standard().dataValue(PersonalDictionary::storageKey).has_value());
}

QTEST_GUILESS_MAIN(TestPersonalDictionary)
#include "tst_personaldictionary.moc"
