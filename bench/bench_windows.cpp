// The windows in a real session (run it inside scripts/session.sh: build/bench/bench_windows):
// - each window's first opening through the router: made, laid out, shown and its first frame painted
// - later openings of the same window (hidden, then opened again), median of ten
// - resident memory before any window and after every window was opened once
#include "app/AppServices.h"
#include "app/AppWindows.h"
#include "app/LaunchAtLogin.h"
#include "app/WindowRouter.h"
#include "platform/linux/X11WindowActivation.h"
#include "platform/linux/XdgAutostartEntry.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cstdio>

using namespace quenda;

namespace {

// Counts the paint events a window receives.
class PaintCounter final : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

double openAndWaitForFrame(WindowRouter& router, const QString& id)
{
    QElapsedTimer timer;
    timer.start();
    QWidget* window = router.window(id);
    PaintCounter counter;
    if (window)
        window->installEventFilter(&counter);
    window = router.open(id);
    if (!window)
        return -1;
    window->installEventFilter(&counter);
    while (counter.paints == 0 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const double msec = timer.nsecsElapsed() / 1e6;
    window->removeEventFilter(&counter);
    return msec;
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void settle(int msec)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < msec)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quenda"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUENDA_VERSION));
    QTemporaryDir dir;
    AppServices services(AppServices::Locations::in(dir.path()), nullptr);
    DictationPipeline* pipeline = services.pipeline();
    if (!pipeline) {
        std::fprintf(stderr, "No desktop: run inside scripts/session.sh\n");
        return 1;
    }
    X11WindowActivation activation;
    WindowRouter router(activation);
    XdgAutostartEntry autostart(QCoreApplication::applicationFilePath());
    LaunchAtLogin launchAtLogin(autostart);
    AppWindows::install(services, *pipeline, *services.desktop(), {&router, &launchAtLogin, {}, {}});
    settle(300);

    const QStringList ids{QStringLiteral("settings"), QStringLiteral("onboarding"),
                          QStringLiteral("stats"),    QStringLiteral("dictionary"),
                          QStringLiteral("snippets"), QStringLiteral("report-problem"),
                          QStringLiteral("feedback")};
    // Qt's own cost of a first window (fonts, the style, the window system's buffers), apart from Quenda's.
    const long bare = residentKiB();
    router.setFactory(QStringLiteral("empty"), [] {
        auto window = std::make_unique<QWidget>();
        window->resize(420, 500);
        return window;
    });
    const double emptyOpen = openAndWaitForFrame(router, QStringLiteral("empty"));
    router.window(QStringLiteral("empty"))->hide();
    settle(300);
    const long before = residentKiB();
    std::printf("an empty window first: %.1f ms, +%.1f MiB (Qt's fonts, style and buffers)\n", emptyOpen,
                (before - bare) / 1024.0);
    std::printf("%-16s %12s %14s %16s\n", "window", "first (ms)", "later (ms)", "memory (+MiB)");
    long previous = before;
    for (const QString& id : ids) {
        const double first = openAndWaitForFrame(router, id);
        QList<double> later;
        for (int run = 0; run < 10; ++run) {
            router.window(id)->hide();
            settle(20);
            later << openAndWaitForFrame(router, id);
        }
        std::sort(later.begin(), later.end());
        settle(200);
        const long now = residentKiB();
        std::printf("%-16s %12.1f %14.1f %16.1f\n", qPrintable(id), first, later.at(later.size() / 2),
                    (now - previous) / 1024.0);
        previous = now;
    }
    settle(500);
    const long after = residentKiB();
    std::printf(
        "resident memory: %.1f MiB before any window, %.1f MiB with all %lld opened once (+%.1f MiB)\n",
        before / 1024.0, after / 1024.0, static_cast<long long>(ids.size()), (after - before) / 1024.0);
    return 0;
}
