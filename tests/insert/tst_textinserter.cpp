#include "insert/InsertionRig.h"
#include "insert/TextInserter.h"

#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

// A text inserter over the fake desktop, collecting its status lines with the virtual time they arrived.
struct Chain {
    InsertionRig rig;
    std::unique_ptr<TextInserter> inserter;
    QStringList lines;
    QList<qint64> lineTimesMsec;
    std::shared_ptr<FakeElement> field;

    Chain()
    {
        field = rig.focusField(QString(), 0, 0);
        inserter = std::make_unique<TextInserter>(rig.platform());
        inserter->setOnStatusChange([this](const QString& line) {
            lines << line;
            lineTimesMsec << rig.clock.now().toMSecsSinceEpoch() -
                                 VirtualScheduler::defaultStart().toMSecsSinceEpoch();
        });
    }
    InsertionTarget editor() const
    {
        return InsertionTarget{QStringLiteral("org.example.editor"), InsertionRig::editorPid, field};
    }
    void breakAccessibility() { field->selectedTextResult = field->setValueResult = ax::cannotComplete; }
};

const QString kTrying = QStringLiteral("Trying to insert into org.example.editor.");

} // namespace

class TestTextInserter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyTextOrAGoneInserterSaysNothing()
    {
        Chain c;
        c.inserter->insertText(QString(), c.editor());
        c.rig.clock.advance(5);
        QVERIFY(c.rig.workspace.activations.isEmpty());
        c.inserter->insertText(QStringLiteral("x"), c.editor());
        c.inserter.reset();
        c.rig.clock.advance(1);
        QVERIFY(c.lines.isEmpty());
    }

    void frontTargetIsWrittenAfterThePauseAndLinesAreNeverSynchronous()
    {
        Chain c;
        c.inserter->insertText(QStringLiteral("hello"), c.editor());
        QVERIFY(c.lines.isEmpty());
        c.rig.clock.advance(0.049);
        QVERIFY(c.lines.isEmpty());
        c.rig.clock.advance(0.001);
        QCOMPARE(c.lines,
                 (QStringList{kTrying,
                              QStringLiteral("Inserted into org.example.editor via Accessibility API.")}));
        QCOMPARE(c.lineTimesMsec, (QList<qint64>{50, 50}));
        QCOMPARE(*c.field->text, QStringLiteral("hello"));
        // Only the accessibility inserter's own activation: the chain made none, the target was in front.
        QCOMPARE(c.rig.workspace.activations, QList<qint64>{InsertionRig::editorPid});
        QCOMPARE(c.inserter->cachedMethod(QStringLiteral("org.example.editor")),
                 InsertionMethod::accessibility);
    }

    void waitsForActivationAtMostEightTimes_data()
    {
        QTest::addColumn<int>("comesForwardAfterChecks"); // -1: never
        QTest::addColumn<qint64>("startMsec");
        QTest::newRow("never") << -1 << qint64(450);
        QTest::newRow("third check") << 3 << qint64(200);
    }
    void waitsForActivationAtMostEightTimes()
    {
        QFETCH(int, comesForwardAfterChecks);
        QFETCH(qint64, startMsec);
        Chain c;
        c.rig.workspace.front = RunningApplication{QStringLiteral("other"), 1, QStringLiteral("Other")};
        c.inserter->insertText(QStringLiteral("hi"), c.editor());
        for (int i = 0; i < 20 && c.lines.isEmpty(); ++i) {
            c.rig.clock.advance(0.05);
            if (comesForwardAfterChecks > 0 && c.rig.workspace.activations.size() == comesForwardAfterChecks)
                c.rig.workspace.front->processIdentifier = InsertionRig::editorPid;
        }
        QCOMPARE(c.lines.value(0), kTrying);
        QCOMPARE(c.lineTimesMsec.value(0), startMsec);
        if (comesForwardAfterChecks < 0) // 9 requests by the chain, then the accessibility inserter's own
            QCOMPARE(c.rig.workspace.activations.size(), 10);
    }

    void cacheSkipsFailedMethodsAndFollowsWhatWorks()
    {
        Chain c;
        c.inserter->insertText(QStringLiteral("one"), c.editor());
        c.rig.clock.advance(0.1);
        QCOMPARE(c.inserter->cachedMethod(QStringLiteral("org.example.editor")),
                 InsertionMethod::accessibility);

        // Accessibility stops working: typing takes over and is remembered.
        c.breakAccessibility();
        c.lines.clear();
        c.inserter->insertText(QStringLiteral("two"), c.editor());
        c.rig.clock.advance(0.1);
        QCOMPARE(c.lines.value(1), QStringLiteral("Inserted into org.example.editor via Simulated Typing."));
        QCOMPARE(c.rig.keyboard.typed, QStringLiteral("two"));

        // Typing is cached, so accessibility is not asked again; typing fails, the clipboard works.
        c.rig.accessibility.calls.clear();
        c.rig.keyboard.outcome = KeyboardSynthesizer::Outcome::eventFailed;
        c.rig.automation.error.reset();
        c.lines.clear();
        c.inserter->insertText(QStringLiteral("three"), c.editor());
        c.rig.clock.advance(0.1);
        QVERIFY(!c.rig.accessibility.calls.contains(QStringLiteral("setSelectedText field")));
        QCOMPARE(c.lines.value(1), QStringLiteral("Queued clipboard paste fallback for org.example.editor."));
        QCOMPARE(c.inserter->cachedMethod(QStringLiteral("org.example.editor")), InsertionMethod::clipboard);

        // Cached clipboard failing: only the clipboard is tried; once the helper has failed too, the failure
        // line carries both reasons, the accessibility one left over from the second insertion, and the
        // application is not held to the clipboard any more.
        c.rig.keyboard.outcome = KeyboardSynthesizer::Outcome::typed;
        c.rig.keyboard.allowed = false;
        c.rig.automation.error = QStringLiteral("no helper");
        c.rig.keyboard.typed.clear();
        c.lines.clear();
        c.inserter->insertText(QStringLiteral("four"), c.editor());
        c.rig.clock.advance(0.4);
        QVERIFY(c.rig.keyboard.typed.isEmpty());
        QCOMPARE(
            c.lines.value(2),
            QStringLiteral("Quenda could not insert into org.example.editor. Replacing the text value failed "
                           "with cannot complete. Automation paste fallback failed for Editor: no helper"));
        QVERIFY(!c.inserter->cachedMethod(QStringLiteral("org.example.editor")));
    }

    void neverInsertsTwiceNorClaimsAPasteThatNeverArrived()
    {
        Chain c;
        c.field->selectedTextResult = ax::alteredText;
        c.inserter->insertText(QStringLiteral("x"), c.editor());
        c.rig.clock.advance(0.1);
        QCOMPARE(
            c.lines.value(1),
            QStringLiteral("Quenda could not insert into org.example.editor. The field changed the inserted "
                           "text and Quenda could not take it back, so nothing else was tried."));
        QVERIFY(c.rig.keyboard.typed.isEmpty());

        // Only the clipboard works, and the field never shows the pasted text: said once it is known.
        c.breakAccessibility();
        c.rig.keyboard.outcome = KeyboardSynthesizer::Outcome::eventFailed;
        c.rig.automation.error.reset();
        c.lines.clear();
        c.inserter->insertText(QStringLiteral("y"), c.editor());
        c.rig.clock.advance(0.1);
        QCOMPARE(c.lines.value(1), QStringLiteral("Queued clipboard paste fallback for org.example.editor."));
        c.rig.clock.advance(1.2);
        QCOMPARE(
            c.lines.value(2),
            QStringLiteral("Quenda could not insert into org.example.editor. Replacing the text value failed "
                           "with cannot complete. The pasted text did not arrive in the focused field."));
        QVERIFY(!c.inserter->cachedMethod(QStringLiteral("org.example.editor")));
    }

    void typingThatStopsPartWayIsFinishedByThePaste()
    {
        // The first slice arrived, the second could not be typed: the paste brings only the rest.
        Chain c;
        c.breakAccessibility();
        c.rig.keyboard.failingSlice = 1;
        c.rig.automation.error.reset();
        const QString text = QString(70, QLatin1Char('a')) + QString(70, QLatin1Char('b'));
        c.inserter->insertText(text, c.editor());
        c.rig.clock.advance(0.3);
        QCOMPARE(c.rig.keyboard.typed, text.left(64));
        QCOMPARE(c.rig.clipboard.content.formats.value(0).second, text.mid(64).toUtf8());
        QCOMPARE(c.lines.value(1), QStringLiteral("Queued clipboard paste fallback for org.example.editor."));
    }

    void everyWayFailingGivesBothReasons()
    {
        Chain c;
        c.rig.workspace.front.reset();
        c.rig.keyboard.allowed = false;
        c.rig.clipboard.content = ClipboardSnapshot{{{QStringLiteral("text/plain"), QByteArray("keep")}}};
        c.inserter->insertText(QStringLiteral("x"), std::nullopt);
        c.rig.clock.runUntilIdle();
        QCOMPARE(
            c.lines.value(1),
            QStringLiteral(
                "Quenda could not insert into unknown. No focused text element was found in the "
                "frontmost app. Quenda could not resolve the target app for automation paste fallback."));
        QVERIFY(!c.inserter->cachedMethod(QStringLiteral("unknown")));
        QCOMPARE(c.rig.clipboard.content.formats.value(0).second, QByteArray("keep"));
    }

    void firstRowActivatesBeforeTheClipboard()
    {
        Chain c;
        c.breakAccessibility();
        c.rig.keyboard.outcome = KeyboardSynthesizer::Outcome::noEventSource;
        c.rig.automation.error.reset();
        c.inserter->insertText(QStringLiteral("x"), c.editor());
        c.rig.clock.advance(0.05);
        // accessibility, typing, the chain's own request, the clipboard paste's, the helper's
        QCOMPARE(c.rig.workspace.activations.size(), 5);
        QCOMPARE(c.lines.value(1), QStringLiteral("Queued clipboard paste fallback for org.example.editor."));
    }
};

QTEST_GUILESS_MAIN(TestTextInserter)
#include "tst_textinserter.moc"
