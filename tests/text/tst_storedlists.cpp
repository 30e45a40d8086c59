// The snippets and the personal dictionary keep their lists as JSON blobs in the settings. Damaged blobs are
// read as far as they go, never traded for what a running store already holds, and never overwritten unseen.
#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "fakes/FileChecks.h"
#include "fakes/LogCapture.h"
#include "text/PersonalDictionary.h"
#include "text/SnippetManager.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;

namespace {

struct Rig {
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("defaults.conf"))};
    VirtualScheduler queue;
    fakes::LogCapture logs;
};

// Both stores behind one face, so one table covers them.
template <class Store>
struct List;
template <>
struct List<SnippetManager> {
    static inline const QString key = SnippetManager::storageKey;
    static auto make(Rig& rig) { return std::make_unique<SnippetManager>(rig.defaults); }
    static void add(SnippetManager& s, const QString& a, const QString& b) { s.addSnippet(a, b); }
    static auto items(const SnippetManager& s) { return s.snippets(); }
    static void reload(SnippetManager& s) { s.loadSnippets(); }
};
template <>
struct List<PersonalDictionary> {
    static inline const QString key = PersonalDictionary::storageKey;
    static auto make(Rig& rig) { return std::make_unique<PersonalDictionary>(rig.defaults, rig.queue); }
    static void add(PersonalDictionary& d, const QString& a, const QString& b) { d.addEntry(a, b); }
    static auto items(const PersonalDictionary& d) { return d.entries(); }
    static void reload(PersonalDictionary& d) { d.loadEntries(); }
};

template <class Store>
void checkDamagedBlob(const QByteArray& stored, int loaded, bool whole)
{
    using L = List<Store>;
    Rig rig;
    auto existing = L::make(rig);
    L::add(*existing, QStringLiteral("keep"), QStringLiteral("kept"));
    const auto before = L::items(*existing);

    rig.defaults.setData(L::key, stored);
    auto fresh = L::make(rig);
    QCOMPARE(L::items(*fresh).size(), loaded);
    L::reload(*existing); // what a store already holds whole is not traded for a part
    QCOMPARE(L::items(*existing), whole ? L::items(*fresh) : before);

    // The first save over a value that was not read in full keeps a copy of it, readable by the user only.
    L::add(*fresh, QStringLiteral("new"), QStringLiteral("one"));
    QCOMPARE(L::items(*L::make(rig)).size(), loaded + 1);
    const QString pattern = L::key + QStringLiteral(".unreadable-*.json");
    const QStringList copies = QDir(rig.dir.path()).entryList({pattern}, QDir::Files);
    QCOMPARE(copies.size(), whole ? 0 : 1);
    if (whole)
        return;
    QCOMPARE(fakes::contents(rig.dir.filePath(copies.first())), stored);
    QVERIFY(fakes::onlyTheUserCanRead(rig.dir.filePath(copies.first())));
    L::add(*fresh, QStringLiteral("two"), QStringLiteral("more")); // one copy is enough
    QCOMPARE(QDir(rig.dir.path()).entryList({pattern}).size(), 1);
}

} // namespace

class TestStoredLists : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void damagedBlobs_data();
    void damagedBlobs();
};

void TestStoredLists::damagedBlobs_data()
{
    QTest::addColumn<bool>("snippets"); // else the dictionary
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("loaded"); // items a fresh store reads
    QTest::addColumn<bool>("whole"); // read in full: nothing needs keeping

    const auto item = [](bool snippet, const char* id, const char* a, const char* b) {
        QByteArray json =
            QByteArray(R"({"id":")") + id + (snippet ? R"(","trigger":")" : R"(","misheard":")") + a;
        return b ? json + (snippet ? R"(","expansion":")" : R"(","correct":")") + b + "\"}" : json + "\"}";
    };
    const char* id1 = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
    const char* id2 = "6F9619FF-8B86-D011-B42D-00C04FC964FE";
    // Both stores read through the same salvage and id rules: those rows run on the snippets; the
    // dictionary's own member check gets its row.
    for (const bool s : {true, false})
        QTest::addRow("%s: element without its second member", s ? "snippets" : "dictionary")
            << s << QByteArray("[" + item(s, id1, "a", "b") + "," + item(s, id2, "c", nullptr) + "]") << 1
            << false;
    QTest::newRow("not JSON") << true << QByteArray("[{oops") << 0 << false;
    QTest::newRow("closing bracket lost")
        << true << QByteArray("[" + item(true, id1, "a", "b") + "," + item(true, id2, "c", "d")) << 2
        << false;
    QTest::newRow("id too short") << true << QByteArray("[" + item(true, "6F9619FF-8B86", "a", "b") + "]")
                                  << 0 << false;
    QTest::newRow("lower-case id, extra key")
        << true
        << QByteArray("[" + item(true, "6f9619ff-8b86-d011-b42d-00c04fc964ff", "a", "b").chopped(1) +
                      R"(,"x":1}])")
        << 1 << true;
}

void TestStoredLists::damagedBlobs()
{
    QFETCH(bool, snippets);
    QFETCH(QByteArray, stored);
    QFETCH(int, loaded);
    QFETCH(bool, whole);
    if (snippets)
        checkDamagedBlob<SnippetManager>(stored, loaded, whole);
    else
        checkDamagedBlob<PersonalDictionary>(stored, loaded, whole);
}

QTEST_GUILESS_MAIN(TestStoredLists)
#include "tst_storedlists.moc"
