#include "base/UserDefaults.h"
#include "fakes/FileChecks.h"
#include "fakes/LogCapture.h"
#include "text/SnippetManager.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;

namespace {
struct Rig {
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("defaults.conf"))};
    fakes::LogCapture logs; // keeps expansion log lines out of the output
};
} // namespace

class TestSnippetManager : public QObject {
    Q_OBJECT

private Q_SLOTS:

    void expand_data();
    void expand();
    void addRemoveAndPersist();
    void corruptStorage_data();
    void corruptStorage();
};

void TestSnippetManager::expand_data()
{
    QTest::addColumn<QString>("snippets"); // "trigger=expansion;trigger=expansion", in list order
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected"); // expanded whenever it differs from the input

    const auto row = [](const char* name, const char* snippets, const char* input, const char* expected) {
        QTest::newRow(name) << QString::fromUtf8(snippets) << QString::fromUtf8(input)
                            << QString::fromUtf8(expected);
    };
    row("case-insensitive, surroundings kept", "my address=1 Main Street", "Send it to My Address please.",
        "Send it to 1 Main Street please.");
    row("first occurrence only", "brb=be right back", "brb brb", "be right back brb");
    row("inside a word", "sig=[S]", "design review", "de[S]n review");
    row("trigger stored lower-cased", "ÉCOLE=school", "à l'École!", "à l'school!");
    row("later trigger found inside earlier expansion", "foo=a baz;baz=qux", "Foo baz", "a qux baz");
    row("earlier expansion consumed later trigger", "hello world=hi;world=earth", "hello world", "hi");
    row("trigger only inside an expansion", "foo=bar;bar=X", "foo", "bar");
    row("never splits a character", "e=E!", "cafe\u0301", "cafe\u0301");
    row("split character in the input, whole one in an expansion", "foo=e x;e=E!", "foo cafe\u0301",
        "e x cafe\u0301");
    row("matches the whole character", "e=E!", "cafe\u0301 e", "cafe\u0301 E!");
    row("no match", "brb=x", "nothing here", "nothing here");
}

void TestSnippetManager::expand()
{
    Rig rig;
    QFETCH(QString, snippets);
    QFETCH(QString, input);
    QFETCH(QString, expected);
    SnippetManager manager(rig.defaults);
    for (const QString& snippet : snippets.split(u';'))
        manager.addSnippet(snippet.section(u'=', 0, 0), snippet.section(u'=', 1));

    const auto [text, expanded] = manager.expandSnippets(input);
    QCOMPARE(text, expected);
    QCOMPARE(expanded, expected != input);
}

void TestSnippetManager::addRemoveAndPersist()
{
    Rig rig;
    SnippetManager manager(rig.defaults);
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
        QJsonDocument::fromJson(*rig.defaults.dataValue(SnippetManager::storageKey)).array();
    QCOMPARE(stored.size(), 2);
    const QJsonObject first = stored.at(0).toObject();
    QCOMPARE(first.keys(),
             (QStringList{QStringLiteral("expansion"), QStringLiteral("id"), QStringLiteral("trigger")}));
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"))
                .match(first.value(QLatin1String("id")).toString())
                .hasMatch());
    QCOMPARE(SnippetManager(rig.defaults).snippets(), manager.snippets());

    const Snippet kept = manager.snippets().at(1);
    manager.removeSnippet(manager.snippets().at(0).id);
    manager.removeSnippet(QUuid::createUuid());
    QCOMPARE(changed.count(), 3);
    QCOMPARE(manager.snippets(), QList<Snippet>{kept});
    QCOMPARE(SnippetManager(rig.defaults).snippets(), QList<Snippet>{kept});
}

void TestSnippetManager::corruptStorage_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("loaded"); // snippets a fresh store reads
    QTest::addColumn<bool>("whole"); // read in full: nothing needs keeping

    const QByteArray good = R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","trigger":"a","expansion":"b"})";
    const QByteArray other = R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FE","trigger":"c","expansion":"d"})";
    const auto withId = [](const char* id, const char* extra = "") {
        return QByteArray(R"([{"id":")") + id + R"(","trigger":"a","expansion":"b")" + extra + "}]";
    };
    QTest::newRow("not JSON") << QByteArray("[{oops") << 0 << false;
    QTest::newRow("a lone object") << good << 1 << false;
    QTest::newRow("element without expansion")
        << QByteArray("[" + good + R"(,{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FE","trigger":"a"}])") << 1
        << false;
    QTest::newRow("closing bracket lost") << QByteArray("[" + good + "," + other) << 2 << false;
    QTest::newRow("a brace lost") << QByteArray("[" + good.chopped(1) + "," + other + "]") << 1 << false;
    QTest::newRow("braced id") << withId("{6F9619FF-8B86-D011-B42D-00C04FC964FF}") << 0 << false;
    QTest::newRow("lower-case id, extra key")
        << withId("6f9619ff-8b86-d011-b42d-00c04fc964ff", R"(,"x":1)") << 1 << true;
}

void TestSnippetManager::corruptStorage()
{
    Rig rig;
    QFETCH(QByteArray, stored);
    QFETCH(int, loaded);
    QFETCH(bool, whole);
    SnippetManager existing(rig.defaults);
    existing.addSnippet(QStringLiteral("keep"), QStringLiteral("kept"));
    const QList<Snippet> before = existing.snippets();

    rig.defaults.setData(SnippetManager::storageKey, stored);
    SnippetManager fresh(rig.defaults);
    QCOMPARE(fresh.snippets().size(), loaded);
    existing.loadSnippets(); // what a store already holds whole is not traded for a part
    QCOMPARE(existing.snippets(), whole ? fresh.snippets() : before);

    // The first save over a value that was not read in full keeps a copy of it, readable by the user only.
    fresh.addSnippet(QStringLiteral("new"), QStringLiteral("one"));
    QCOMPARE(SnippetManager(rig.defaults).snippets().size(), loaded + 1);
    const QStringList copies =
        QDir(rig.dir.path()).entryList({QStringLiteral("snippets.unreadable-*.json")}, QDir::Files);
    QCOMPARE(copies.size(), whole ? 0 : 1);
    if (whole)
        return;
    QFile copy(rig.dir.filePath(copies.first()));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), stored);
    QVERIFY(fakes::onlyTheUserCanRead(copy.fileName()));
    QCOMPARE(rig.logs
                 .linesWith(QStringLiteral("[Snippets] The stored \"snippets\" could not be read in full; "
                                           "kept a copy at "))
                 .size(),
             1);
    fresh.addSnippet(QStringLiteral("two"), QStringLiteral("more")); // one copy is enough
    QCOMPARE(QDir(rig.dir.path()).entryList({QStringLiteral("snippets.unreadable-*")}).size(), 1);
}

QTEST_GUILESS_MAIN(TestSnippetManager)
#include "tst_snippetmanager.moc"
