#include "insert/ClipboardInserter.h"
#include "insert/InsertionRig.h"

#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

const ClipboardSnapshot kUserClipboard{{{QStringLiteral("text/plain"), QByteArray("mine")},
                                        {QStringLiteral("text/html"), QByteArray("<b>mine</b>")},
                                        {QStringLiteral("image/png"), QByteArray("\x89PNG\0\1", 6)}}};

// The editor's menu bar: File, Edit > (Undo, Paste Special..., Paste).
struct Menus {
    std::shared_ptr<FakeElement> app = makeElement(QStringLiteral("app"));
    std::shared_ptr<FakeElement> bar = makeElement(QStringLiteral("bar"));
    std::shared_ptr<FakeElement> edit = makeElement(QStringLiteral("edit"));
    std::shared_ptr<FakeElement> paste = makeElement(QStringLiteral("paste"));

    explicit Menus(FakeAccessibility& accessibility, const QString& pasteTitle = QStringLiteral(" Paste "))
    {
        auto file = makeElement(QStringLiteral("file"));
        file->title = QStringLiteral("File");
        edit->title = QStringLiteral("&Edit").mid(1);
        auto special = makeElement(QStringLiteral("special"));
        special->title = QStringLiteral("Paste Special…");
        auto undo = makeElement(QStringLiteral("undo"));
        undo->title = QStringLiteral("Undo");
        paste->title = pasteTitle;
        edit->children = QList<ElementRef>{undo, special, paste};
        bar->children = QList<ElementRef>{file, edit};
        accessibility.applications.insert(InsertionRig::editorPid, app);
        accessibility.menuBars.insert(QStringLiteral("app"), bar);
    }
};

// The fake desktop with the user's clipboard on it, and the inserter under test.
struct Rig : InsertionRig {
    Rig() { clipboard.content = kUserClipboard; }
    std::unique_ptr<ClipboardInserter> inserter = std::make_unique<ClipboardInserter>(
        platform(), QStringList{QStringLiteral("edit")},
        QStringList{QStringLiteral("paste"), QStringLiteral("paste and match style")});
};

using MenuBreakage = std::function<void(InsertionRig&, Menus&)>;

} // namespace

Q_DECLARE_METATYPE(MenuBreakage)

class TestClipboardInserter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void typesOrSaysWhyNot_data()
    {
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("reason");
        QTest::newRow("typed") << true << int(KeyboardSynthesizer::Outcome::typed) << QString();
        QTest::newRow("not allowed")
            << false << int(KeyboardSynthesizer::Outcome::typed)
            << "Quenda does not currently have event-synthesizing access for simulated typing.";
        QTest::newRow("no event") << true << int(KeyboardSynthesizer::Outcome::eventFailed)
                                  << "Quenda could not create a keyboard event for simulated typing.";
    }
    void typesOrSaysWhyNot()
    {
        QFETCH(bool, allowed);
        QFETCH(int, outcome);
        QFETCH(QString, reason);
        Rig rig;
        rig.keyboard.allowed = allowed;
        rig.keyboard.outcome = KeyboardSynthesizer::Outcome(outcome);
        // Long enough for three slices, with a character of two code units across the first boundary.
        const QString text =
            QString(63, QLatin1Char('a')) + QString::fromUtf8("😀") + QString(80, QLatin1Char('b'));
        QList<bool> outcomes;
        rig.inserter->typeText(text, 4242, [&](bool typed, qsizetype) { outcomes << typed; });
        rig.clock.runUntilIdle();
        QCOMPARE(outcomes, QList<bool>{reason.isEmpty()});
        QCOMPARE(rig.inserter->lastFailureReason().value_or(QString()), reason);
        QCOMPARE(rig.keyboard.typed, reason.isEmpty() ? text : QString());
        if (reason.isEmpty())
            QCOMPARE(rig.keyboard.slices, (QList<qsizetype>{65, 64, 16}));

        // Gone between two slices: nothing more is typed, nothing is told.
        rig.keyboard.typed.clear();
        outcomes.clear();
        rig.inserter->typeText(text, 4242, [&](bool typed, qsizetype) { outcomes << typed; });
        rig.inserter.reset();
        rig.clock.runUntilIdle();
        QVERIFY(outcomes.isEmpty() || !reason.isEmpty());
        QCOMPARE(rig.keyboard.typed, reason.isEmpty() ? text.left(65) : QString());
    }

    void emptyTextTouchesNothing()
    {
        Rig rig;
        bool typed = true;
        rig.inserter->typeText(QString(), 4242, [&](bool t, qsizetype) { typed = t; });
        QVERIFY(!typed);
        QVERIFY(!rig.inserter->pasteText(QString(), 4242));
        QVERIFY(!rig.inserter->lastFailureReason());
        QCOMPARE(rig.clipboard.content, kUserClipboard);
        QVERIFY(rig.workspace.activations.isEmpty());
    }

    void pastesThroughTheMenuAndRestoresOneSecondLater()
    {
        Rig rig;
        Menus menus(rig.accessibility);
        QVERIFY(rig.inserter->pasteText(QStringLiteral("dictated"), 4242));
        QCOMPARE(menus.paste->presses, 1);
        QCOMPARE(rig.clipboard.content.formats.value(0).second, QByteArray("dictated"));
        rig.clock.advance(0.99);
        QVERIFY(rig.automation.sent.isEmpty());
        QCOMPARE(rig.clipboard.restores, 0);
        rig.clock.advance(0.02);
        QCOMPARE(rig.clipboard.content, kUserClipboard);
    }

    void findsItemsBuiltWhenTheMenuOpensFirstMatchWins()
    {
        Rig rig;
        Menus menus(rig.accessibility, QStringLiteral("PASTE"));
        menus.edit->revealedOnPress = *menus.edit->children;
        menus.edit->children.reset();
        QVERIFY(rig.inserter->pasteText(QStringLiteral("x"), 4242));
        QCOMPARE(menus.paste->presses, 0); // the menu's answer is awaited without holding the queue
        rig.clock.runUntilIdle();
        QCOMPARE(menus.edit->presses, 1);
        QCOMPARE(menus.paste->presses, 1);

        // The first match in depth-first order wins, through a submenu's visible children.
        menus.paste->presses = 0;
        auto matchStyle = makeElement(QStringLiteral("match"));
        matchStyle->title = QStringLiteral("Paste and Match Style");
        auto submenu = makeElement(QStringLiteral("submenu"));
        submenu->visibleChildren = QList<ElementRef>{matchStyle};
        menus.edit->children->prepend(submenu);
        QVERIFY(rig.inserter->pasteText(QStringLiteral("x"), 4242));
        QCOMPARE(matchStyle->presses, 1);
        QCOMPARE(menus.paste->presses, 0);
    }

    void menuFailuresFallThroughToTheHelperThenTheShortcut_data()
    {
        QTest::addColumn<MenuBreakage>("breakage");
        QTest::addColumn<QString>("menuReason");
        QTest::newRow("no app") << MenuBreakage([](InsertionRig& r, Menus&) {
            r.accessibility.applications.clear();
        }) << "Quenda could not resolve the target app for menu paste fallback.";
        QTest::newRow("no bar") << MenuBreakage([](InsertionRig& r, Menus&) {
            r.accessibility.menuBars.clear();
        }) << "The target app does not expose an accessible menu bar for paste fallback.";
        QTest::newRow("disabled") << MenuBreakage([](InsertionRig&, Menus& m) { m.paste->enabled = false; })
                                  << "The target app's Paste command is currently disabled.";
        QTest::newRow("press fails") << MenuBreakage([](InsertionRig&, Menus& m) {
            m.paste->pressResult = ax::actionUnsupported;
        }) << "Triggering the app's Paste command failed with unsupported action.";
    }
    void menuFailuresFallThroughToTheHelperThenTheShortcut()
    {
        QFETCH(MenuBreakage, breakage);
        QFETCH(QString, menuReason);
        Rig rig;
        Menus menus(rig.accessibility);
        breakage(rig, menus);
        rig.automation.error.reset();
        QVERIFY(rig.inserter->pasteText(QStringLiteral("x"), 4242));
        rig.clock.runUntilIdle();
        QCOMPARE(rig.inserter->lastFailureReason().value_or(QString()), menuReason);
        QCOMPARE(menus.paste->presses, menus.paste->pressResult == ax::success ? 0 : 1);
        // The helper gets the keys once the target has had 0.22 s to come forward.
        rig.clock.advance(0.21);
        QVERIFY(rig.automation.sent.isEmpty());
        rig.clock.advance(0.02);
        QCOMPARE(rig.automation.sent, QStringList{QStringLiteral("ctrl+v")});
        QVERIFY(rig.defaults.boolForKey(QStringLiteral("permissions.granted.automation.systemEvents")));
        rig.clock.advance(1.0);
        QCOMPARE(rig.clipboard.content, kUserClipboard);

        // The helper failing as well: the reason is the helper's, the shortcut follows at once.
        rig.automation.error = QStringLiteral("xdotool is not installed");
        QVERIFY(rig.inserter->pasteText(QStringLiteral("y"), 4242));
        rig.clock.advance(0.23);
        QCOMPARE(rig.inserter->lastFailureReason().value_or(QString()),
                 QStringLiteral("Automation paste fallback failed for Editor: xdotool is not installed"));
        QCOMPARE(rig.defaults.boolValue(QStringLiteral("permissions.granted.automation.systemEvents")),
                 std::optional(false));
        QCOMPARE(rig.keyboard.shortcuts, QStringList{QStringLiteral("ctrl+v")});
        rig.clock.advance(1.0);
        QCOMPARE(rig.clipboard.content, kUserClipboard);

        // Neither the helper nor the keys: the user's clipboard comes back and the paste is told as lost.
        rig.keyboard.shortcutsPossible = false;
        QList<bool> outcomes;
        QVERIFY(
            rig.inserter->pasteText(QStringLiteral("z"), 4242, [&](bool arrived) { outcomes << arrived; }));
        rig.clock.advance(0.23);
        QCOMPARE(outcomes, QList<bool>{false});
        QCOMPARE(rig.clipboard.content, kUserClipboard);
    }

    void withoutEventAccessTheClipboardComesBackAtOnce()
    {
        Rig rig;
        rig.keyboard.allowed = false;
        rig.workspace.front.reset(); // no application to resolve: neither way can start
        QVERIFY(!rig.inserter->pasteText(QStringLiteral("x"), std::nullopt));
        QCOMPARE(rig.clipboard.content, kUserClipboard);
        QCOMPARE(rig.inserter->lastFailureReason().value_or(QString()),
                 QStringLiteral("Quenda could not resolve the target app for automation paste fallback."));

        rig.keyboard.allowed = true;
        rig.keyboard.shortcutsPossible = false;
        QVERIFY(!rig.inserter->pasteText(QStringLiteral("x"), std::nullopt));
        QCOMPARE(rig.clipboard.content, kUserClipboard);
        QCOMPARE(rig.inserter->lastFailureReason().value_or(QString()),
                 QStringLiteral("Quenda could not create the keyboard events needed for paste fallback."));
    }

    void shortcutWithoutTargetComesSoonerAndQuittingRestoresAtOnce()
    {
        Rig rig;
        rig.workspace.front =
            RunningApplication{QStringLiteral("org.gnome.Terminal"), 9, QStringLiteral("Terminal")};
        QVERIFY(rig.inserter->pasteText(QStringLiteral("ls"), std::nullopt));
        rig.clock.advance(0.08);
        QCOMPARE(rig.automation.sent, QStringList{QStringLiteral("ctrl+shift+v")});
        QCOMPARE(rig.keyboard.shortcuts, QStringList{QStringLiteral("ctrl+shift+v")});
        // Quitting before the restore is due puts the user's clipboard back on the way out, once.
        rig.inserter.reset();
        QCOMPARE(rig.clipboard.restores, 1);
        QCOMPARE(rig.clipboard.content, kUserClipboard);
        rig.clock.advance(2);
        QCOMPARE(rig.clipboard.restores, 1);
    }

    void xtermPastesThePrimarySelectionAndGetsBothBack()
    {
        Rig rig;
        rig.clipboard.primary = ClipboardSnapshot{{{QStringLiteral("text/plain"), QByteArray("selected")}}};
        const ClipboardSnapshot userPrimary = rig.clipboard.primary;
        rig.workspace.front = RunningApplication{QStringLiteral("XTerm"), 9, QStringLiteral("xterm")};
        QVERIFY(rig.inserter->pasteText(QStringLiteral("ls -l"), 9));
        QCOMPARE(rig.clipboard.primary.formats.value(0).second, QByteArray("ls -l"));
        QCOMPARE(rig.clipboard.content.formats.value(0).second, QByteArray("ls -l"));
        rig.clock.advance(0.22);
        QCOMPARE(rig.keyboard.shortcuts, QStringList{QStringLiteral("shift+Insert")});
        rig.clock.advance(1.0);
        QCOMPARE(rig.clipboard.content, kUserClipboard);
        QCOMPARE(rig.clipboard.primary, userPrimary);
    }

    void aPasteThatNeverArrivesIsReported_data()
    {
        QTest::addColumn<bool>("arrives");
        QTest::newRow("arrives") << true;
        QTest::newRow("nothing arrives") << false;
    }
    void aPasteThatNeverArrivesIsReported()
    {
        QFETCH(bool, arrives);
        Rig rig;
        auto field = rig.focusField(QStringLiteral("say: "), 5, 0);
        QList<bool> outcomes;
        QVERIFY(rig.inserter->pasteText(QStringLiteral("hi"), InsertionRig::editorPid,
                                        [&](bool arrived) { outcomes << arrived; }));
        rig.clock.advance(0.22);
        if (arrives)
            field->text = QStringLiteral("say: hi");
        rig.clock.advance(1.0);
        QCOMPARE(outcomes, QList<bool>{arrives});
        if (!arrives)
            QCOMPARE(rig.inserter->lastFailureReason(),
                     std::optional(QStringLiteral("The pasted text did not arrive in the focused field.")));
        QCOMPARE(rig.clipboard.content, kUserClipboard);
    }
};

QTEST_GUILESS_MAIN(TestClipboardInserter)
#include "tst_clipboardinserter.moc"
