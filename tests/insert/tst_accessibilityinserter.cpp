#include "insert/AccessibilityInserter.h"
#include "insert/InsertionRig.h"

#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

using Breakage = std::function<void(FakeElement&)>;
Q_DECLARE_METATYPE(Breakage)

class TestAccessibilityInserter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void capturesTheFrontApplicationOrTheLastOtherOne()
    {
        InsertionRig rig;
        auto field = rig.focusField(QStringLiteral("abc"), 0, 0);
        AccessibilityInserter inserter(rig.platform());

        auto target = inserter.captureInsertionTarget();
        QVERIFY(target);
        QCOMPARE(target->bundleID, QStringLiteral("org.example.editor"));
        QCOMPARE(target->processIdentifier, InsertionRig::editorPid);
        QCOMPARE(target->focusedElement, ElementRef(field));

        // Quenda's own window comes forward: activations of itself are ignored, the target stays the editor.
        const RunningApplication own{QStringLiteral("quenda"), 77, QStringLiteral("Quenda")};
        rig.workspace.announce(own);
        rig.workspace.front = own;
        target = inserter.captureInsertionTarget();
        QVERIFY(target);
        QCOMPARE(target->processIdentifier, InsertionRig::editorPid);

        // An application without an identifier is "unknown"; it becomes the last external one.
        rig.workspace.announce(RunningApplication{std::nullopt, 99, QStringLiteral("xterm")});
        target = inserter.captureInsertionTarget();
        QCOMPARE(target->bundleID, QStringLiteral("unknown"));
        QCOMPARE(target->processIdentifier, 99);
        QVERIFY(!target->focusedElement);

        InsertionRig alone;
        alone.workspace.front.reset();
        AccessibilityInserter lonely(alone.platform());
        QVERIFY(!lonely.captureInsertionTarget());
        QVERIFY(!lonely.lastExternalApplication());
    }

    void insertsThroughTheSelectionWithoutTouchingTheValue()
    {
        InsertionRig rig;
        auto field = rig.focusField(QStringLiteral("hello world"), 6, 5);
        AccessibilityInserter inserter(rig.platform());
        QVERIFY(inserter.insertText(QStringLiteral("there"),
                                    InsertionTarget{QStringLiteral("x"), 4242, nullptr}));
        QCOMPARE(*field->text, QStringLiteral("hello there"));
        QVERIFY(!rig.accessibility.calls.contains(QStringLiteral("setValue field")));
        QCOMPARE(rig.workspace.activations, QList<qint64>{4242});
        QVERIFY(!inserter.lastFailureReason());
    }

    void fallsBackToTheStoredElementThenTheDesktopFocus()
    {
        InsertionRig rig;
        auto stored = makeElement(QStringLiteral("stored"));
        stored->text = QString();
        AccessibilityInserter inserter(rig.platform());
        QVERIFY(inserter.insertText(QStringLiteral("a"), InsertionTarget{QStringLiteral("x"), 1, stored}));
        QCOMPARE(*stored->text, QStringLiteral("a"));

        auto desktop = makeElement(QStringLiteral("desktop"));
        desktop->text = QString();
        rig.accessibility.systemFocused = desktop;
        QVERIFY(inserter.insertText(QStringLiteral("b"), std::nullopt));
        QCOMPARE(*desktop->text, QStringLiteral("b"));
    }

    void splicesIntoTheValueWhenTheSelectionIsRefused_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<qint64>("location");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<qint64>("caret");
        QTest::newRow("past the end") << "hello " << qint64(40) << qint64(3) << "hello there" << qint64(11);
        QTest::newRow("negative length")
            << "hello world" << qint64(6) << qint64(-4) << "hello thereworld" << qint64(11);
        QTest::newRow("after emoji") << QString::fromUtf8("\xF0\x9F\x98\x80 x") << qint64(2) << qint64(0)
                                     << QString::fromUtf8("\xF0\x9F\x98\x80there x") << qint64(7);
    }
    void splicesIntoTheValueWhenTheSelectionIsRefused()
    {
        QFETCH(QString, value);
        QFETCH(qint64, location);
        QFETCH(qint64, length);
        QFETCH(QString, expected);
        QFETCH(qint64, caret);
        InsertionRig rig;
        auto field = rig.focusField(value, location, length);
        field->selectedTextResult = ax::cannotComplete;
        AccessibilityInserter inserter(rig.platform());
        rig.accessibility.systemFocused = field;
        QVERIFY(inserter.insertText(QStringLiteral("there"), std::nullopt));
        QCOMPARE(*field->text, expected);
        QCOMPARE(field->caretSet, std::optional(TextRange{caret, 0}));
    }

    void spliceRefusesBoundariesInsideACharacter()
    {
        // A family emoji (several code points joined) and a flag: no cut may fall inside either.
        const QString family = QString::fromUtf8("a\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9"
                                                 "b");
        for (qint64 i = 2; i < family.size() - 1; ++i)
            QVERIFY2(!AccessibilityInserter::spliceAtUTF16Range(family, i, 0, QStringLiteral("x")),
                     qPrintable(QString::number(i)));
        QVERIFY(AccessibilityInserter::spliceAtUTF16Range(family, 1, family.size() - 2, QStringLiteral("x")));
        QVERIFY(!AccessibilityInserter::spliceAtUTF16Range(family, 0, 2, QStringLiteral("x")));
    }

    void fallbackFailuresNameTheStep_data()
    {
        QTest::addColumn<Breakage>("breakage");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no value") << Breakage([](FakeElement& f) { f.text.reset(); })
                                  << "The focused element does not expose a writable text value.";
        QTest::newRow("no range") << Breakage([](FakeElement& f) {
            f.selection.problem = SelectedRangeRead::Problem::unavailable;
        }) << "The focused element does not expose a selected text range.";
        QTest::newRow("inside emoji") << Breakage([](FakeElement& f) {
            f.selection.range = TextRange{4, 0};
        }) << "Quenda could not map the current selection back into the text value.";
        QTest::newRow("write refused")
            << Breakage([](FakeElement& f) { f.setValueResult = ax::notImplemented; })
            << "Replacing the text value failed with not implemented.";
        // Rewriting the whole value would drop the embedded object (a picture in a document).
        QTest::newRow("embedded object") << Breakage([](FakeElement& f) { f.text->append(QChar(0xFFFC)); })
                                         << "The focused element does not expose a writable text value.";
        QTest::newRow("write altered")
            << Breakage([](FakeElement& f) { f.setValueResult = ax::alteredText; })
            << "The field changed the inserted text and Quenda could not take it back, so nothing else was "
               "tried.";
    }
    void fallbackFailuresNameTheStep()
    {
        QFETCH(Breakage, breakage);
        QFETCH(QString, reason);
        InsertionRig rig;
        const QString original = QString::fromUtf8("ok \xF0\x9F\x98\x80");
        auto field = rig.focusField(original, 3, 0);
        field->selectedTextResult = ax::attributeUnsupported;
        breakage(*field);
        const auto before = field->text;
        AccessibilityInserter inserter(rig.platform());
        QVERIFY(
            !inserter.insertText(QStringLiteral("new"), InsertionTarget{QStringLiteral("e"), 4242, nullptr}));
        QCOMPARE(inserter.lastFailureReason().value_or(QString()), reason);
        QCOMPARE(field->text, before);
        QCOMPARE(inserter.fieldWasAltered(), field->setValueResult == ax::alteredText);
    }

    void aFieldThatAlteredTheInsertionIsNotWrittenAgain()
    {
        InsertionRig rig;
        auto field = rig.focusField(QStringLiteral("abc"), 3, 0);
        field->selectedTextResult = ax::alteredText;
        AccessibilityInserter inserter(rig.platform());
        const InsertionTarget target{QStringLiteral("e"), InsertionRig::editorPid, nullptr};
        QVERIFY(!inserter.insertText(QStringLiteral("toolong"), target));
        QVERIFY(inserter.fieldWasAltered());
        QVERIFY(!rig.accessibility.calls.contains(QStringLiteral("setValue field")));
        field->selectedTextResult = ax::success;
        QVERIFY(inserter.insertText(QStringLiteral("d"), target));
        QVERIFY(!inserter.fieldWasAltered());
    }

    void readsTheWholeValueAfterAPause()
    {
        InsertionRig rig;
        // Markers applications add (after an emoji, for an embedded object) are not part of the text.
        rig.focusField(QString::fromUtf8("the wh\xF0\x9F\x98\x80\xEF\xBB\xBFole\xEF\xBF\xBC text"), 3, 0);
        AccessibilityInserter inserter(rig.platform());
        QList<std::optional<QString>> reads;
        auto read = [&](const std::optional<QString>& value) { reads << value; };
        inserter.readFocusedValue(InsertionTarget{QStringLiteral("e"), 4242, nullptr}, read);
        rig.clock.advance(0.09);
        QVERIFY(reads.isEmpty());
        rig.clock.advance(0.02);
        QCOMPARE(reads, QList<std::optional<QString>>{QString::fromUtf8("the wh\xF0\x9F\x98\x80ole text")});
        rig.accessibility.focusedByPid.clear();
        inserter.readFocusedValue(std::nullopt, read);
        rig.clock.advance(0.1);
        QCOMPARE(reads.value(1), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestAccessibilityInserter)
#include "tst_accessibilityinserter.moc"
