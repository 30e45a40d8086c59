// What accessibility costs on the real bus: finding the focused field (in a process, and on the whole
// desktop), reading it and inserting into it, in a Qt editor, a GTK editor and LibreOffice Writer when it
// is installed; then what one frozen application costs a search, the first time and while it is skipped.
// Run inside a session:  scripts/session.sh run build/bench/bench_accessibility
#include "FixtureProcess.h"
#include "platform/linux/LinuxInsertionServices.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <functional>

using namespace quenda;

namespace {

// Median and worst of `runs` timings of `step`, in milliseconds.
void time(const char* label, int runs, const std::function<bool()>& step)
{
    QList<double> msec;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!step()) {
            std::printf("  %-28s FAILED\n", label);
            return;
        }
        msec << timer.nsecsElapsed() / 1e6;
    }
    std::sort(msec.begin(), msec.end());
    std::printf("  %-28s median %7.2f ms, worst %7.2f ms (%d runs)\n", label, msec[msec.size() / 2],
                msec.last(), runs);
}

bool bringForward(LinuxInsertionServices& services, qint64 pid)
{
    return QTest::qWaitFor(
        [&] {
            const auto front = services.workspace().frontmostApplication();
            if (front && front->processIdentifier == pid)
                return true;
            services.workspace().activate(pid);
            return false;
        },
        10000);
}

void measure(LinuxInsertionServices& services, const char* name, qint64 pid)
{
    std::printf("%s\n", name);
    if (!bringForward(services, pid)) {
        std::printf("  never came to the front\n");
        return;
    }
    AtspiAccessibility& accessibility = services.accessibility();
    ElementRef field;
    time("focused field of the process", 20,
         [&] { return (field = accessibility.focusedElement(pid)) != nullptr; });
    time("focused field on the desktop", 20, [&] { return accessibility.systemFocusedElement() != nullptr; });
    if (!field)
        return;
    time("read the text", 20, [&] { return accessibility.value(*field).has_value(); });
    time("insert 20 chars, read back", 20, [&] {
        return accessibility.setSelectedText(*field, QString::fromUtf8("twenty characters ✓ ")) ==
               ax::success;
    });
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"); // the benchmark itself is no target
    QGuiApplication app(argc, argv);
    auto services = LinuxInsertionServices::create();
    if (!services) {
        std::printf("no X display\n");
        return 1;
    }
    FixtureProcess qt, gtk;
    if (!qt.start(QStringLiteral(QUENDA_FIXTURE_EDITOR), {}) ||
        !gtk.start(FixtureProcess::python(), {QStringLiteral(QUENDA_GTK_FIXTURE)})) {
        std::printf("the fixture editors did not start\n");
        return 1;
    }
    QTemporaryDir profile;
    QProcess office;
    if (!QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty()) {
        office.start(QStringLiteral("soffice"),
                     {QStringLiteral("--norestore"), QStringLiteral("--nologo"), QStringLiteral("--writer"),
                      QStringLiteral("-env:UserInstallation=file://") + profile.path()});
        QTest::qWait(12000);
    }

    bringForward(*services, qt.pid());
    qt.ok("focus multi");
    measure(*services, "Qt editor", qt.pid());
    bringForward(*services, gtk.pid());
    gtk.ok("focus multi");
    measure(*services, "GTK editor", gtk.pid());
    if (office.state() == QProcess::Running) {
        QProcess find;
        find.start(QStringLiteral("xdotool"),
                   {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--class"),
                    QStringLiteral("libreoffice-writer"), QStringLiteral("getwindowpid")});
        find.waitForFinished(5000);
        const qint64 pid = QString::fromUtf8(find.readAllStandardOutput()).section(u'\n', 0, 0).toLongLong();
        if (pid > 0)
            measure(*services, "LibreOffice Writer", pid);
    }

    // A frozen application in front: the first search waits out one call, later ones skip it.
    bringForward(*services, gtk.pid());
    ::kill(static_cast<pid_t>(gtk.pid()), SIGSTOP);
    std::printf("frozen GTK editor in front\n");
    time("first search (waits once)", 1,
         [&] { return services->accessibility().focusedElement(gtk.pid()) == nullptr; });
    time("later searches (skipped)", 20,
         [&] { return services->accessibility().focusedElement(gtk.pid()) == nullptr; });
    ::kill(static_cast<pid_t>(gtk.pid()), SIGCONT);
    office.terminate();
    office.waitForFinished(5000);
    return 0;
}
