#include "base/Log.h"
#include "base/UserDefaults.h"
#include "text/SnippetManager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace quenda;

class TestSnippetManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void expand_data();
    void expand();
    void expansionLogLines();
    void addRemoveAndPersist();
    void corruptStorage_data();
    void corruptStorage();
    void sharedLoadsTheUsersStore();

private:
    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    QStringList m_logLines;
};

void TestSnippetManager::initTestCase()
{
    // shared() reads the user's own defaults: point them at a scratch directory.
    QVERIFY(m_home.isValid());
    qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
}

void TestSnippetManager::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_defaults = std::make_unique<UserDefaults>(m_dir->filePath(QStringLiteral("defaults.conf")));
    m_logLines.clear();
    Log::setSink([this](const QString& line) { m_logLines.append(line); });
}

void TestSnippetManager::cleanup()
{
    Log::setSink({});
    m_defaults.reset();
    m_dir.reset();
}

void TestSnippetManager::expand_data()
{
    QTest::addColumn<QStringList>("snippets"); // trigger, expansion, trigger, expansion...
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("expanded");

    const QString decomposedE = QStringLiteral("e\u0301");
    QTest::newRow("case-insensitive, surroundings kept")
        << QStringList{QStringLiteral("my address"), QStringLiteral("1 Main Street")}
        << QStringLiteral("Send it to My Address please.")
        << QStringLiteral("Send it to 1 Main Street please.") << true;
    QTest::newRow("whole transcript with full stop")
        << QStringList{QStringLiteral("email signature"), QStringLiteral("Best,\nAna")}
        << QStringLiteral("Email signature.") << QStringLiteral("Best,\nAna.") << true;
    QTest::newRow("first occurrence only")
        << QStringList{QStringLiteral("brb"), QStringLiteral("be right back")} << QStringLiteral("brb brb")
        << QStringLiteral("be right back brb") << true;
    QTest::newRow("inside a word") << QStringList{QStringLiteral("sig"), QStringLiteral("[S]")}
                                   << QStringLiteral("design review") << QStringLiteral("de[S]n review")
                                   << true;
    QTest::newRow("trigger stored lower-cased")
        << QStringList{QStringLiteral("ÉCOLE"), QStringLiteral("school")} << QStringLiteral("à l'École!")
        << QStringLiteral("à l'school!") << true;
    QTest::newRow("both, in list order") << QStringList{QStringLiteral("foo"), QStringLiteral("one"),
                                                        QStringLiteral("bar"), QStringLiteral("two")}
                                         << QStringLiteral("bar foo") << QStringLiteral("two one") << true;
    QTest::newRow("later trigger found inside earlier expansion")
        << QStringList{QStringLiteral("foo"), QStringLiteral("a baz"), QStringLiteral("baz"),
                       QStringLiteral("qux")}
        << QStringLiteral("Foo baz") << QStringLiteral("a qux baz") << true;
    QTest::newRow("earlier expansion consumed later trigger")
        << QStringList{QStringLiteral("hello world"), QStringLiteral("hi"), QStringLiteral("world"),
                       QStringLiteral("earth")}
        << QStringLiteral("hello world") << QStringLiteral("hi") << true;
    QTest::newRow("trigger only inside an expansion")
        << QStringList{QStringLiteral("foo"), QStringLiteral("bar"), QStringLiteral("bar"),
                       QStringLiteral("X")}
        << QStringLiteral("foo") << QStringLiteral("bar") << true;
    QTest::newRow("never splits a character") << QStringList{QStringLiteral("e"), QStringLiteral("E!")}
                                              << QString(QStringLiteral("caf") + decomposedE)
                                              << QString(QStringLiteral("caf") + decomposedE) << false;
    QTest::newRow("split character in the input, whole one in an expansion")
        << QStringList{QStringLiteral("foo"), QStringLiteral("e x"), QStringLiteral("e"),
                       QStringLiteral("E!")}
        << QString(QStringLiteral("foo caf") + decomposedE)
        << QString(QStringLiteral("e x caf") + decomposedE) << true;
    QTest::newRow("matches the whole character")
        << QStringList{QStringLiteral("e"), QStringLiteral("E!")}
        << QString(QStringLiteral("caf") + decomposedE + QStringLiteral(" e"))
        << QString(QStringLiteral("caf") + decomposedE + QStringLiteral(" E!")) << true;
    QTest::newRow("no match") << QStringList{QStringLiteral("brb"), QStringLiteral("x")}
                              << QStringLiteral("nothing here") << QStringLiteral("nothing here") << false;
    QTest::newRow("no snippets") << QStringList{} << QStringLiteral("brb") << QStringLiteral("brb") << false;
}

void TestSnippetManager::expand()
{
    QFETCH(QStringList, snippets);
    QFETCH(QString, input);
    SnippetManager manager(*m_defaults);
    for (qsizetype i = 0; i + 1 < snippets.size(); i += 2)
        manager.addSnippet(snippets.at(i), snippets.at(i + 1));

    const auto [text, expanded] = manager.expandSnippets(input);
    QTEST(text, "expected");
    QTEST(expanded, "expanded");
}

void TestSnippetManager::expansionLogLines()
{
    SnippetManager manager(*m_defaults);
    // One user-perceived character of four UTF-16 units: the quote is cut by characters, not units.
    const QString thumb = QStringLiteral("\U0001F44D\U0001F3FD");
    manager.addSnippet(QStringLiteral("brb"), QStringLiteral("be right back"));
    manager.addSnippet(QStringLiteral("thumbs"), thumb.repeated(41));
    manager.addSnippet(QStringLiteral("absent"), QStringLiteral("never"));

    manager.expandSnippets(QStringLiteral("BRB, thumbs"));
    QCOMPARE(m_logLines, (QStringList{QStringLiteral("[Snippets] Expanded \"brb\" → \"be right back...\""),
                                      QStringLiteral("[Snippets] Expanded \"thumbs\" → \"") +
                                          thumb.repeated(40) + QStringLiteral("...\"")}));
}

void TestSnippetManager::addRemoveAndPersist()
{
    SnippetManager manager(*m_defaults);
    QSignalSpy changed(&manager, &SnippetManager::snippetsChanged);
    manager.addSnippet(QStringLiteral("BRB"), QStringLiteral("be right back"));
    manager.addSnippet(QString(), QStringLiteral("x"));
    manager.addSnippet(QStringLiteral("x"), QString());
    manager.addSnippet(QStringLiteral("brb"), QStringLiteral("Be Right Back\n"));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(manager.snippets().size(), 2);
    QCOMPARE(manager.snippets().at(0).trigger, QStringLiteral("brb"));
    QVERIFY(manager.snippets().at(0).id != manager.snippets().at(1).id);

    const QJsonArray stored =
        QJsonDocument::fromJson(*m_defaults->dataValue(SnippetManager::storageKey)).array();
    QCOMPARE(stored.size(), 2);
    const QJsonObject first = stored.at(0).toObject();
    QCOMPARE(first.keys(),
             (QStringList{QStringLiteral("expansion"), QStringLiteral("id"), QStringLiteral("trigger")}));
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"))
                .match(first.value(QLatin1String("id")).toString())
                .hasMatch());
    QCOMPARE(SnippetManager(*m_defaults).snippets(), manager.snippets());

    const Snippet kept = manager.snippets().at(1);
    manager.removeSnippet(manager.snippets().at(0).id);
    manager.removeSnippet(QUuid::createUuid());
    QCOMPARE(changed.count(), 3);
    QCOMPARE(manager.snippets(), QList<Snippet>{kept});
    QCOMPARE(SnippetManager(*m_defaults).snippets(), QList<Snippet>{kept});
}

void TestSnippetManager::corruptStorage_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("loaded"); // snippets a fresh store reads; -1: the stored value is ignored

    const QByteArray good = R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","trigger":"a","expansion":"b"})";
    QTest::newRow("not JSON") << QByteArray("[{oops") << -1;
    QTest::newRow("object, not a list") << good << -1;
    QTest::newRow("element without expansion")
        << QByteArray("[" + good + R"(,{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FE","trigger":"a"}])") << -1;
    QTest::newRow("id not a string") << QByteArray(R"([{"id":7,"trigger":"a","expansion":"b"}])") << -1;
    QTest::newRow("braced id")
        << QByteArray(R"([{"id":"{6F9619FF-8B86-D011-B42D-00C04FC964FF}","trigger":"a","expansion":"b"}])")
        << -1;
    QTest::newRow("id too short") << QByteArray(
                                         R"([{"id":"6F9619FF-8B86-D011","trigger":"a","expansion":"b"}])")
                                  << -1;
    QTest::newRow("id not hex")
        << QByteArray(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FG","trigger":"a","expansion":"b"}])")
        << -1;
    QTest::newRow("trigger a number")
        << QByteArray(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","trigger":1,"expansion":"b"}])") << -1;
    QTest::newRow("element a string") << QByteArray(R"(["brb"])") << -1;
    QTest::newRow("lower-case id, extra key")
        << QByteArray(
               R"([{"id":"6f9619ff-8b86-d011-b42d-00c04fc964ff","trigger":"a","expansion":"b","x":1}])")
        << 1;
}

void TestSnippetManager::corruptStorage()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, loaded);
    SnippetManager existing(*m_defaults);
    existing.addSnippet(QStringLiteral("keep"), QStringLiteral("kept"));
    const QList<Snippet> before = existing.snippets();

    m_defaults->setData(SnippetManager::storageKey, stored);
    SnippetManager fresh(*m_defaults);
    existing.loadSnippets();
    if (loaded < 0) {
        QVERIFY(fresh.snippets().isEmpty());
        QCOMPARE(existing.snippets(), before);
    } else {
        QCOMPARE(fresh.snippets().size(), loaded);
        QCOMPARE(existing.snippets(), fresh.snippets());
        QCOMPARE(fresh.snippets().at(0).id,
                 QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF")));
    }
}

void TestSnippetManager::sharedLoadsTheUsersStore()
{
    SnippetManager seed(UserDefaults::standard());
    seed.addSnippet(QStringLiteral("brb"), QStringLiteral("be right back"));

    SnippetManager& shared = SnippetManager::shared();
    QCOMPARE(&SnippetManager::shared(), &shared);
    QCOMPARE(shared.snippets(), seed.snippets());
}

QTEST_GUILESS_MAIN(TestSnippetManager)
#include "tst_snippetmanager.moc"
