// Insertion speed on the real desktop: typing throughput for keyed and remapped characters, accessibility
// insertion of 1,000 characters, and insertText until the text is visible in the fixture editor.
// Run inside a session:  scripts/session.sh run build/bench/bench_insertion [qt|gtk]
#include "FixtureProcess.h"
#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "insert/TextInserter.h"
#include "platform/linux/LinuxInsertionServices.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace quenda;

namespace {

struct Desktop {
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    QtScheduler mainQueue;
    std::unique_ptr<LinuxInsertionServices> services = LinuxInsertionServices::create();

    InsertionPlatform platform() { return services->platform(mainQueue, defaults); }
};

QString repeatTo(const QString& pattern, qsizetype length)
{
    QString text;
    while (text.size() < length)
        text += pattern;
    return text.left(length);
}

// Waits until the fixture's field holds `expected`; milliseconds, or -1 when it never does.
qint64 waitForText(FixtureProcess& fixture, const QByteArray& field, const QString& expected,
                   QElapsedTimer& timer)
{
    while (timer.elapsed() < 60000) {
        if (fixture.get(field) == expected)
            return timer.elapsed();
        QTest::qWait(5);
    }
    return -1;
}

void typing(Desktop& desktop, FixtureProcess& fixture, const char* label, const QString& text)
{
    fixture.set("multi", QString());
    QElapsedTimer timer;
    timer.start();
    const auto outcome = desktop.services->keyboard().typeCharacters(text);
    const qint64 typedMsec = timer.elapsed();
    const qint64 visibleMsec = waitForText(fixture, "multi", text, timer);
    const qsizetype count = text.toUcs4().size();
    if (outcome != KeyboardSynthesizer::Outcome::typed || visibleMsec < 0) {
        const QString got = fixture.get("multi");
        std::printf("typing %-9s %5lld chars: FAILED (%lld of them arrived)\n", label, qlonglong(count),
                    qlonglong(got.toUcs4().size()));
        return;
    }
    std::printf(
        "typing %-9s %5lld chars: %7.0f chars/s sent, %7.0f chars/s visible (%lld ms; %d round trips, "
        "%d unconfirmed)\n",
        label, qlonglong(count), count * 1000.0 / std::max<qint64>(typedMsec, 1),
        count * 1000.0 / std::max<qint64>(visibleMsec, 1), qlonglong(visibleMsec),
        desktop.services->keyboard().lastRoundTrips, desktop.services->keyboard().lastUnconfirmedReloads);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    QGuiApplication app(argc, argv);
    const bool gtk = app.arguments().contains(QStringLiteral("gtk"));
    Desktop desktop;
    FixtureProcess fixture;
    const bool started = gtk ? fixture.start(FixtureProcess::python(), {QStringLiteral(QUENDA_GTK_FIXTURE)})
                             : fixture.start(QStringLiteral(QUENDA_FIXTURE_EDITOR), {});
    if (!started || !desktop.services) {
        std::fprintf(stderr, "bench_insertion: needs the session (scripts/session.sh run ...)\n");
        return 1;
    }
    fixture.ok("activate");
    if (!fixture.ok("focus multi")) {
        std::fprintf(stderr, "bench_insertion: the fixture never got the focus\n");
        return 1;
    }
    std::printf("fixture: %s; spare keycodes: ", gtk ? "GTK 3" : "Qt 6");
    fixture.set("multi", QString());
    desktop.services->keyboard().typeCharacters(QStringLiteral("x"));
    std::printf("%lld\n", qlonglong(desktop.services->keyboard().spareKeycodeCount()));
    // The warm-up key must have landed before the first measurement clears the field.
    QElapsedTimer warmUp;
    warmUp.start();
    waitForText(fixture, "multi", QStringLiteral("x"), warmUp);

    typing(desktop, fixture, "keyed",
           repeatTo(QStringLiteral("the quick brown fox jumps over the lazy dog. "), 2000));
    typing(desktop, fixture, "remapped", repeatTo(QString::fromUtf8("Ελληνικά καλημέρα κόσμε ✓ – 😀 "), 600));
    // More distinct characters than spare keycodes: keycodes are reused after the target caught up.
    typing(desktop, fixture, "reused",
           repeatTo(QString::fromUtf8("αβγδεζηθικλμνξοπρστυφχψω абвгдежзийклмнопрстуфхцчшщ "), 600));
    typing(desktop, fixture, "mixed", repeatTo(QString::fromUtf8("héllo wörld – ✓ 😀 Ελληνικά "), 1000));

    // Accessibility insertion of 1,000 characters into the focused field.
    AccessibilityInserter inserter(desktop.platform());
    const auto target = inserter.captureInsertionTarget();
    const QString thousand = repeatTo(QStringLiteral("accessible text "), 1000);
    QList<qint64> micros;
    for (int i = 0; i < 10; ++i) {
        fixture.set("multi", QString());
        QElapsedTimer timer;
        timer.start();
        const bool ok = inserter.insertText(thousand, target);
        micros << timer.nsecsElapsed() / 1000;
        if (!ok) {
            std::printf("accessibility insertion: FAILED (%s)\n",
                        qPrintable(inserter.lastFailureReason().value_or(QString())));
            break;
        }
    }
    std::sort(micros.begin(), micros.end());
    std::printf(
        "accessibility insertion of 1000 chars: median %.1f ms, best %.1f ms, worst %.1f ms (10 runs)\n",
        micros.value(micros.size() / 2) / 1000.0, micros.value(0) / 1000.0,
        micros.value(micros.size() - 1) / 1000.0);

    // The whole chain: insertText until the text shows in the fixture.
    TextInserter chain(desktop.platform());
    for (int i = 0; i < 3; ++i) {
        fixture.set("multi", QString());
        const QString text = QStringLiteral("dictated sentence number %1.").arg(i);
        QElapsedTimer timer;
        timer.start();
        chain.insertText(text, chain.captureInsertionTarget());
        const qint64 visible = waitForText(fixture, "multi", text, timer);
        std::printf("insertText -> visible: %lld ms\n", qlonglong(visible));
    }
    return 0;
}
