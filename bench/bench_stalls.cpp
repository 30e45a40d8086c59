// The longest time the main thread goes without running its event loop, while the real product works: a
// 1 ms timer on the main thread notes the gap between its ticks, and the largest gaps are printed for
//   1. whole dictations with clean-up: the hotkey held through XTest while a recording plays into the
//      session's microphone, the words cleaned up by a loopback chat-completions server streaming
//      server-sent events, inserted into the fixture editor, then read back for the correction capture;
//   2. a 2,000-character typed insertion into the fixture editor;
//   3. a clipboard paste through the editor's Edit menu;
//   4. a quit request during a long typed insertion: how long until the typing stops;
//   5. a start-up while the keyring does not answer (its daemon stopped), next to one secret read on the
//      main thread, which is what start-up used to do.
//
//   scripts/session.sh run build/bench/bench_stalls [DICTATIONS]
//
// A frame is 16 ms: a gap longer than that is a stall the user can feel (a pill that stops moving, a
// hotkey that answers late, Ctrl+C that waits).
#include "FixtureProcess.h"
#include "app/AppServices.h"
#include "base/Log.h"
#include "base/UserDefaults.h"
#include "core/DictationOrchestrator.h"
#include "fakes/FakeHttpServer.h"
#include "insert/AccessibilityInserter.h"
#include "insert/ClipboardInserter.h"
#include "insert/InsertionPlatform.h"
#include "net/KeychainStore.h"
#include "platform/linux/LinuxDesktop.h"
#include "platform/linux/SecretServiceStore.h"
#include "text/TextEnhancer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

using namespace quenda;
using namespace quenda::fakes;

namespace {

const QString kRecording = QStringLiteral(
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav");
constexpr double frameMsec = 16.0;

// Notes the gaps between the ticks of a 1 ms timer on the main thread.
class StallWatch {
public:
    StallWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const double gap = double(now - m_last) / 1e6;
            m_last = now;
            m_longest = std::max(m_longest, gap);
            if (gap > frameMsec)
                ++m_overFrame;
        });
    }
    void start()
    {
        m_longest = 0;
        m_overFrame = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    void print(const char* label) const
    {
        std::printf("%-48s longest stall %8.1f ms   stalls over %.0f ms: %d\n", label, m_longest, frameMsec,
                    m_overFrame);
        std::fflush(stdout);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    double m_longest = 0;
    int m_overFrame = 0;
};

void rightControl(Display* display, bool down)
{
    const KeyCode code = XKeysymToKeycode(display, XStringToKeysym("Control_R"));
    XTestFakeKeyEvent(display, code, down ? True : False, CurrentTime);
    XSync(display, False);
}

// Waits, running the event loop, until the condition holds or the time is up.
bool waitFor(const std::function<bool()>& condition, int timeoutMsec)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMsec)
        QTest::qWait(10);
    return condition();
}

QString typedText(int characters)
{
    const QString pattern = QStringLiteral("the quick brown fox jumps over the lazy dog, ");
    QString text;
    while (text.size() < characters)
        text += pattern;
    return text.left(characters);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int dictations = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 3;
    Log::setSink([](const QString&) {});
    Display* display = XOpenDisplay(nullptr);
    if (!display || !QFile::exists(kRecording)) {
        std::fprintf(stderr, "bench_stalls: run it inside scripts/session.sh with pocketsphinx-testdata\n");
        return 2;
    }

    FixtureProcess editor;
    if (!editor.start(QStringLiteral(QUENDA_FIXTURE_EDITOR), {}) || !editor.ok("focus multi") ||
        !editor.ok("activate")) {
        std::fprintf(stderr, "bench_stalls: the fixture editor did not start\n");
        return 1;
    }

    FakeHttpServer server;
    server.setHandler([](const RecordedRequest&) {
        return wire::groqStream({QStringLiteral("Sense"), QStringLiteral(" and"),
                                 QStringLiteral(" sensibility,"), QStringLiteral(" cleaned"),
                                 QStringLiteral(" up.")},
                                40, 15);
    });
    QTemporaryDir home;
    AppServices services(AppServices::Locations::in(home.path()), nullptr);
    services.defaults().setString(settings::chatCompletionsURL.key(),
                                  server.url(QStringLiteral("/v1/chat/completions")).toString());
    services.keychain().save(KeychainStore::groqAccount, QStringLiteral("gsk_bench_0123456789"));
    DictationPipeline* pipeline = services.pipeline();
    LinuxDesktop* desktop = services.linuxDesktop();
    if (!pipeline || !desktop) {
        std::fprintf(stderr, "bench_stalls: no desktop\n");
        return 1;
    }
    DictationOrchestrator& orchestrator = pipeline->orchestrator();
    orchestrator.configurePipeline();
    QTest::qWait(1500); // the hotkey listener and the microphone settle

    StallWatch watch;
    std::printf("main-thread stalls (a 1 ms timer's longest gap between ticks)\n");
    // The floor: what the machine's own load costs the timer with nothing to do.
    watch.start();
    QTest::qWait(2000);
    watch.stop();
    watch.print("idle, 2 s");
    for (int i = 0; i < dictations; ++i) {
        const int before = int(orchestrator.recentDictations().size());
        watch.start();
        rightControl(display, true);
        QTest::qWait(300);
        QProcess player;
        player.start(QStringLiteral("paplay"), {kRecording});
        waitFor([&] { return player.state() == QProcess::NotRunning; }, 30000);
        QTest::qWait(400);
        rightControl(display, false);
        const bool done = waitFor(
            [&] {
                return int(orchestrator.recentDictations().size()) > before && orchestrator.state().isIdle();
            },
            20000);
        QTest::qWait(3000); // the read-back of the field for the correction capture
        watch.stop();
        const QString label = QStringLiteral("dictation %1 with clean-up%2")
                                  .arg(i + 1)
                                  .arg(done ? QString() : QStringLiteral(" (FAILED)"));
        watch.print(qPrintable(label));
    }

    InsertionPlatform platform = desktop->insertion().platform(services.mainQueue(), services.defaults());
    const qint64 editorPid = editor.pid();

    editor.set("multi", QString());
    editor.ok("focus multi");
    const QString text = typedText(2000);
    watch.start();
    {
        ClipboardInserter typist(platform, {}, {});
        bool typed = false;
        typist.typeText(text, editorPid, [&](bool, qsizetype) { typed = true; });
        waitFor([&] { return typed; }, 30000);
        QTest::qWait(500);
    }
    watch.stop();
    watch.print("typed insertion, 2,000 characters");
    const bool typedExact = waitFor([&] { return editor.get("multi") == text; }, 10000);
    std::printf("%-48s %s\n", "  the field holds exactly the text", typedExact ? "yes" : "NO");

    // A quit during a long typed insertion: the typing stops at the next slice.
    editor.set("multi", QString());
    editor.ok("focus multi");
    {
        auto typist = std::make_unique<ClipboardInserter>(platform, QStringList{}, QStringList{});
        typist->typeText(typedText(20000), editorPid, [](bool, qsizetype) {});
        QTest::qWait(200);
        QElapsedTimer quitting;
        quitting.start();
        QTimer::singleShot(0, [&] { typist.reset(); });
        QTest::qWait(0);
        while (typist)
            QCoreApplication::processEvents();
        std::printf("%-48s %8.1f ms\n", "quit during a long typed insertion: typing stops",
                    double(quitting.nsecsElapsed()) / 1e6);
    }

    editor.set("multi", QString());
    editor.ok("focus multi");
    {
        ClipboardInserter clipboard(platform, {QStringLiteral("edit")},
                                    {QStringLiteral("paste"), QStringLiteral("paste and match style")});
        watch.start();
        clipboard.pasteText(QStringLiteral("pasted through the Edit menu"), editorPid);
        QTest::qWait(1500);
        watch.stop();
        watch.print("clipboard paste through the Edit menu");
    }
    {
        // No menu by these names: the paste goes through the automation helper.
        ClipboardInserter clipboard(platform, {QStringLiteral("no such menu")}, {QStringLiteral("paste")});
        watch.start();
        clipboard.pasteText(QStringLiteral("pasted through the helper"), editorPid);
        QTest::qWait(1500);
        watch.stop();
        watch.print("clipboard paste through the automation helper");
    }
    {
        AccessibilityInserter reader(platform);
        watch.start();
        const auto target = reader.captureInsertionTarget();
        reader.readFocusedValue(target, [](const std::optional<QString>&) {});
        QTest::qWait(300);
        watch.stop();
        watch.print("field read-back for the correction capture");
    }

    const QDBusReply<uint> keyring =
        QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("org.freedesktop.secrets"));
    if (keyring.isValid() && ::kill(pid_t(keyring.value()), SIGSTOP) == 0) {
        QTemporaryDir otherHome;
        {
            AppServices blocking(AppServices::Locations::in(otherHome.path()),
                                 std::make_unique<linux_platform::SecretServiceStore>());
            watch.start();
            blocking.keychain().read(KeychainStore::groqAccount);
            QTest::qWait(100);
            watch.stop();
            watch.print("hung keyring: one secret read on the main thread");
        }
        {
            AppServices starting(AppServices::Locations::in(otherHome.path()),
                                 std::make_unique<linux_platform::SecretServiceStore>());
            watch.start();
            starting.textEnhancer(); // reads the stored token and Groq key
            QTest::qWait(3500);      // the keyring's time runs out meanwhile
            watch.stop();
            watch.print("hung keyring: start-up reads the stored secrets");
        }
        ::kill(pid_t(keyring.value()), SIGCONT);
    }

    XCloseDisplay(display);
    return 0;
}
