#include "app/FloatingPillLayout.h"
#include "app/FloatingPillView.h"
#include "app/FloatingPillWindow.h"

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QTextBoundaryFinder>

#include <cmath>

using namespace quenda;

using Heights = std::array<qreal, 3>;
Q_DECLARE_METATYPE(Heights)
Q_DECLARE_METATYPE(std::optional<QRect>)

class TestFloatingPill : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void barHeights_data();
    void barHeights();
    void text_data();
    void text();
    void position_data();
    void position();
    void longTranscriptKeepsItsEndInTwoLines_data();
    void longTranscriptKeepsItsEndInTwoLines();
    void windowHidesOrFades();
};

void TestFloatingPill::barHeights_data()
{
    QTest::addColumn<float>("level");
    QTest::addColumn<bool>("active");
    QTest::addColumn<Heights>("heights");
    QTest::newRow("silent while listening") << 0.0f << true << Heights{4, 4, 4};
    QTest::newRow("full level") << 1.0f << true << Heights{13.6, 20, 16.8};
    QTest::newRow("not listening") << 1.0f << false << Heights{4, 4, 4};
    QTest::newRow("above range is clamped") << 7.0f << true << Heights{13.6, 20, 16.8};
    QTest::newRow("no number") << std::nanf("") << true << Heights{4, 4, 4};
}

void TestFloatingPill::barHeights()
{
    QFETCH(float, level);
    QFETCH(bool, active);
    QFETCH(Heights, heights);
    const Heights drawn = pill::barHeights(level, active);
    for (std::size_t i = 0; i < drawn.size(); ++i)
        QVERIFY2(qFuzzyCompare(drawn[i], heights[i]), qPrintable(QString::number(drawn[i])));
}

void TestFloatingPill::text_data()
{
    QTest::addColumn<PillContent>("content");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("secondary");
    const auto listening = DictationState::listening();
    QTest::newRow("nothing heard yet") << PillContent{listening, QString(), 0} << "Listening..." << false;
    QTest::newRow("processing hides the transcript")
        << PillContent{DictationState::processing(), QStringLiteral("hello"), 1} << "Enhancing..." << true;
    QTest::newRow("line breaks become spaces")
        << PillContent{listening, QStringLiteral("one\ntwo"), 0} << "one two" << false;
    QTest::newRow("error shows the transcript")
        << PillContent{DictationState::error(QStringLiteral("x")), QStringLiteral("said"), 0} << "said"
        << false;
}

void TestFloatingPill::text()
{
    QFETCH(PillContent, content);
    QFETCH(QString, text);
    QFETCH(bool, secondary);
    QCOMPARE(pill::textFor(content), (pill::PillText{text, secondary}));
}

void TestFloatingPill::position_data()
{
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<std::optional<QRect>>("available");
    QTest::addColumn<QPoint>("topLeft");
    const QRect screen(0, 0, 1280, 1024);
    const QRect belowPanel(0, 32, 1280, 992);     // a panel along the top edge
    const QRect rightScreen(1280, 0, 1920, 1080); // the second of two screens
    QTest::newRow("up and to the right") << QPoint(600, 500) << std::optional(screen) << QPoint(620, 436);
    QTest::newRow("top-right corner: pushed left and down")
        << QPoint(1279, 0) << std::optional(screen) << QPoint(960, 0);
    QTest::newRow("kept below a top panel")
        << QPoint(100, 40) << std::optional(belowPanel) << QPoint(120, 32);
    QTest::newRow("second screen's right edge")
        << QPoint(3150, 600) << std::optional(rightScreen) << QPoint(2880, 536);
    QTest::newRow("no screen known") << QPoint(5000, 10) << std::optional<QRect>() << QPoint(5020, -54);
}

void TestFloatingPill::position()
{
    QFETCH(QPoint, pointer);
    QFETCH(std::optional<QRect>, available);
    QFETCH(QPoint, topLeft);
    QCOMPARE(pill::positionNearPointer(pointer, QSize(320, 44), available), topLeft);
}

void TestFloatingPill::longTranscriptKeepsItsEndInTwoLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("words") << QStringLiteral("so here is a long dictation ").repeated(12) +
                                  QStringLiteral("the end");
    QTest::newRow("one long word") << QStringLiteral("x").repeated(400) + QStringLiteral("END");
    QTest::newRow("emoji and accents")
        << QStringLiteral("👩‍👩‍👧 café ").repeated(60) + QStringLiteral("fin 👍🏽");
}

void TestFloatingPill::longTranscriptKeepsItsEndInTwoLines()
{
    QFETCH(QString, text);
    const QFont font = QApplication::font();
    const int width = pill::textWidth();
    QCOMPARE(pill::elideHead(QStringLiteral("short"), font, width), QStringLiteral("short"));
    const QString shown = pill::elideHead(text, font, width);
    QVERIFY(shown.startsWith(QStringLiteral("…")));
    QVERIFY(text.endsWith(shown.mid(1)));
    QCOMPARE(pill::lineCount(shown, font, width), 2);
    // As much of the end as fits: one character more would need a third line.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(text.size() - (shown.size() - 1));
    QString longer;
    do
        longer = text.mid(finder.toPreviousBoundary()).trimmed();
    while (longer == shown.mid(1));
    QVERIFY(pill::lineCount(QStringLiteral("…") + longer, font, width) > 2);
}

void TestFloatingPill::windowHidesOrFades()
{
    bool compositing = false;
    FloatingPillWindow window([&compositing] { return compositing; });
    FloatingPillView& view = window.view();
    const PillContent listening{DictationState::listening(), QString(), 0.5f};
    window.show(listening);
    QVERIFY(view.isVisible());
    QCOMPARE(view.width(), pill::maxWidth);
    QVERIFY(!view.mask().isEmpty()); // the capsule is cut out without a compositor
    QVERIFY(view.screen()->availableGeometry().contains(view.geometry()));

    // A two-line transcript makes the pill taller, growing upwards: its bottom edge stays.
    view.move(100, 300);
    const int bottom = view.geometry().bottom();
    window.refresh(PillContent{DictationState::listening(), QStringLiteral("word ").repeated(40), 0.5f});
    QVERIFY(view.height() > pill::sizeFor(0).height());
    QCOMPARE(view.geometry().bottom(), bottom);

    window.fadeOutAndHide(0.3);
    QVERIFY(!view.isVisible()); // no compositor: nothing can blend the window, so it hides at once

    compositing = true;
    window.show(listening);
    QVERIFY(view.mask().isEmpty());
    window.fadeOutAndHide(0.3);
    QVERIFY(window.isFading());
    // The next dictation's pill outlives the fade of the last one.
    window.show(listening);
    QVERIFY(!window.isFading());
    QCOMPARE(view.windowOpacity(), 1.0);
    window.fadeOutAndHide(0.01);
    QTRY_VERIFY(!view.isVisible());
    QCOMPARE(view.windowOpacity(), 1.0); // the next showing is opaque
}

QTEST_MAIN(TestFloatingPill)
#include "tst_floatingpill.moc"
