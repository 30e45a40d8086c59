#include "base/UserDefaults.h"
#include "fakes/LogCapture.h"
#include "fakes/TableRows.h"
#include "text/SnippetManager.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using quenda::fakes::row;

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
};

void TestSnippetManager::expand_data()
{
    QTest::addColumn<QString>("snippets"); // "trigger=expansion;trigger=expansion", in list order
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected"); // expanded whenever it differs from the input

    row("case-insensitive, surroundings kept", "my address=1 Main Street", "Send it to My Address please.",
        "Send it to 1 Main Street please.");
    row("first occurrence only", "brb=be right back", "brb brb", "be right back brb");
    row("inside a word", "sig=[S]", "design review", "de[S]n review");
    row("trigger stored lower-cased", "ÉCOLE=school", "à l'École!", "à l'school!");
    row("later trigger found inside earlier expansion", "foo=a baz;baz=qux", "Foo baz", "a qux baz");
    row("earlier expansion consumed later trigger", "hello world=hi;world=earth", "hello world", "hi");
    row("trigger only inside an expansion", "foo=bar;bar=X", "foo", "bar");
    row("matches whole characters only", "e=E!", "cafe\u0301 e", "cafe\u0301 E!");
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

QTEST_GUILESS_MAIN(TestSnippetManager)
#include "tst_snippetmanager.moc"
