#include "base/UserDefaults.h"
#include "fakes/LogCapture.h"
#include "text/SnippetManager.h"

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

QTEST_GUILESS_MAIN(TestSnippetManager)
#include "tst_snippetmanager.moc"
