// Insertion speed on the real desktop: typing throughput for keyed and remapped characters, accessibility
// insertion of 1,000 characters, and insertText until the text is visible in the fixture editor.
// Run inside a session:  scripts/session.sh run build/bench/bench_insertion [qt|gtk|chromium|firefox-esr]
#include "BrowserPage.h"
#include "FixtureProcess.h"
#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "insert/TextInserter.h"
#include "platform/linux/LinuxInsertionServices.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QSet>
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
                   QElapsedTimer& timer, qint64 timeoutMsec = 60000)
{
    while (timer.elapsed() < timeoutMsec) {
        if (fixture.get(field) == expected)
            return timer.elapsed();
        QTest::qWait(5);
    }
    return -1;
}

// Types the text `runs` times into the empty field and reports how often it arrived exact, the speed and
// the keyboard-map changes of one typing.
void typing(Desktop& desktop, FixtureProcess& fixture, const char* label, const QString& text, int runs = 5)
{
    XTestKeyTyper& keyboard = desktop.services->keyboard();
    const qsizetype count = text.toUcs4().size();
    int exact = 0;
    QList<qint64> sentMsec, visibleMsec;
    int changes = 0, confirmations = 0;
    for (int run = 0; run < runs; ++run) {
        fixture.set("multi", QString());
        QElapsedTimer timer;
        timer.start();
        const auto outcome = keyboard.typeCharacters(text);
        sentMsec << timer.elapsed();
        changes = std::max(changes, keyboard.lastKeymapChanges);
        confirmations = std::max(confirmations, keyboard.lastConfirmations);
        const qint64 visible = waitForText(fixture, "multi", text, timer, 15000);
        if (outcome == KeyboardSynthesizer::Outcome::typed && visible >= 0) {
            ++exact;
            visibleMsec << visible;
        }
        // Every run starts from the layout's own map, as a new dictation a while later would.
        if (!QTest::qWaitFor([&] { return !keyboard.hasRemappedKeys(); }, 5000))
            std::printf("(the keyboard map was not put back within 5 s)\n");
    }
    std::sort(sentMsec.begin(), sentMsec.end());
    std::sort(visibleMsec.begin(), visibleMsec.end());
    const qint64 visible = visibleMsec.value(visibleMsec.size() / 2, -1);
    std::printf(
        "typing %-9s %5lld chars: exact %d of %d; %7.0f chars/s sent, visible after %lld ms (median); "
        "%d keymap changes, %d confirmations (%s)\n",
        label, qlonglong(count), exact, runs,
        count * 1000.0 / std::max<qint64>(sentMsec.value(sentMsec.size() / 2), 1), qlonglong(visible),
        changes, confirmations, qPrintable(keyboard.lastConfirmationWay));
}

// A browser field: each text typed with Enter after it, until the page has posted the line back.
int browserTyping(const QString& program)
{
    BrowserPage browser;
    if (!browser.start(program)) {
        std::fprintf(stderr, "bench_insertion: %s did not load the page\n", qPrintable(program));
        return 1;
    }
    XTestKeyTyper keyboard;
    const QList<std::pair<const char*, QString>> texts = {
        {"accented", QString::fromUtf8("héllo wörld, ça va? ✓ ok.")},
        {"russian", QString::fromUtf8("Съешь же ещё этих мягких французских булок, да выпей чаю.")},
    };
    for (const auto& [label, text] : texts) {
        int exact = 0;
        QList<qint64> msec;
        for (int run = 0; run < 5; ++run) {
            const qsizetype before = browser.bodies("/line").size();
            QElapsedTimer timer;
            timer.start();
            keyboard.typeCharacters(text + QLatin1Char('\n'));
            if (!QTest::qWaitFor([&] { return browser.bodies("/line").size() > before; }, 10000))
                continue;
            msec << timer.elapsed();
            exact += browser.bodies("/line").value(before) == text ? 1 : 0;
            if (!QTest::qWaitFor([&] { return !keyboard.hasRemappedKeys(); }, 5000))
                std::printf("(the keyboard map was not put back within 5 s)\n");
        }
        std::sort(msec.begin(), msec.end());
        std::printf(
            "%s, %-8s %3lld chars: exact %d of 5; typed and posted back in %lld ms (median), %d keymap "
            "changes, %d confirmations (%s)\n",
            qPrintable(program), label, qlonglong(text.toUcs4().size()), exact,
            qlonglong(msec.value(msec.size() / 2, -1)), keyboard.lastKeymapChanges,
            keyboard.lastConfirmations, qPrintable(keyboard.lastConfirmationWay));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    QGuiApplication app(argc, argv);
    for (const QString& program : {QStringLiteral("chromium"), QStringLiteral("firefox-esr")})
        if (app.arguments().contains(program))
            return browserTyping(program);
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
    std::printf("%lld (%lld characters at a time)\n",
                qlonglong(desktop.services->keyboard().spareKeycodeCount()),
                qlonglong(desktop.services->keyboard().remapCapacity()));
    // The warm-up key must have landed before the first measurement clears the field.
    QElapsedTimer warmUp;
    warmUp.start();
    waitForText(fixture, "multi", QStringLiteral("x"), warmUp);

    typing(desktop, fixture, "keyed",
           repeatTo(QStringLiteral("the quick brown fox jumps over the lazy dog. "), 2000));
    typing(desktop, fixture, "remapped", repeatTo(QString::fromUtf8("Ελληνικά καλημέρα κόσμε ✓ – 😀 "), 600));
    // More distinct characters than the spare keycodes hold at once: they are reused after the target
    // caught up.
    typing(desktop, fixture, "reused",
           repeatTo(QString::fromUtf8("αβγδεζηθικλμνξοπρστυφχψω абвгдежзийклмнопрстуфхцчшщ "), 600));
    typing(desktop, fixture, "many",
           QString::fromUtf8(
               "αβγδεζηθικλμνξοπρστυφχψω абвгдежзийклмнопрстуфхцчшщъыьэюя ĀāĂăĄąĆćĈĉĊċČčĎďĐđĒēĔĕĖėĘęĚě"));
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
