// A long run of real dictations through the real product, as a user makes them: `quenda run` listens, the
// hotkey (Right Ctrl) is held through XTest while a recording plays into the session's speaker (whose
// monitor is the microphone), then released; the words go into a fixture editor. After each dictation it
// reads the field and the resident memory of the quenda process.
//
//   scripts/soak.sh [DICTATIONS]            (default 100; runs this inside a private session)
//
// Prints one line per dictation and a summary: how many were inserted, how many sat apart from the text
// before them by exactly one space, and the memory after the tenth and the last.
#include "FixtureProcess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <numeric>

namespace {

struct Recording {
    QString path;
    QStringList playerArguments;
};

QList<Recording> recordings()
{
    QList<Recording> list;
    const QDir librivox(QStringLiteral("/usr/share/pocketsphinx/test/data/librivox"));
    for (const QString& name : librivox.entryList({QStringLiteral("*.wav")}, QDir::Files, QDir::Name))
        list.append({librivox.filePath(name), {}});
    const QStringList raw{QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                          QStringLiteral("--rate=16000"), QStringLiteral("--channels=1")};
    for (const char* name : {"goforward.raw", "numbers.raw", "something.raw"}) {
        const QString path = QStringLiteral("/usr/share/pocketsphinx/test/data/") + QLatin1String(name);
        if (QFile::exists(path))
            list.append({path, raw});
    }
    return list;
}

bool rightControl(Display* display, bool down)
{
    const KeyCode code = XKeysymToKeycode(display, XStringToKeysym("Control_R"));
    XTestFakeKeyEvent(display, code, down ? True : False, CurrentTime);
    XSync(display, False);
    return true;
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression rss(QStringLiteral("VmRSS:\\s+(\\d+) kB"));
    const QRegularExpressionMatch match = rss.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

// Reads what the running command printed; results (insertion lines) come on standard output.
struct Output {
    QProcess& process;
    QByteArray out;
    QByteArray err;
    void pump(int msec)
    {
        process.waitForReadyRead(msec);
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        QCoreApplication::processEvents();
    }
    int count(const QByteArray& what) const { return int(out.count(what)); }
    int successes() const
    {
        return count("Insertion: Inserted into") + count("Insertion: Queued clipboard paste");
    }
    int failures() const { return count("Insertion: Quenda could not") + count("Error: "); }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int dictations = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100;
    const QList<Recording> sources = recordings();
    if (sources.isEmpty() || dictations <= 0) {
        std::fprintf(stderr, "soak: needs pocketsphinx-testdata and a positive count\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "soak: run it inside scripts/session.sh\n");
        return 2;
    }

    FixtureProcess editor;
    if (!editor.start(QStringLiteral(QUENDA_FIXTURE_EDITOR), {}) || !editor.ok("focus multi") ||
        !editor.ok("activate")) {
        std::fprintf(stderr, "soak: the fixture editor did not start\n");
        return 1;
    }

    QProcess quenda;
    quenda.start(QStringLiteral(QUENDA_BINARY), {QStringLiteral("run")});
    Output output{quenda, {}, {}};
    for (int waited = 0; !output.err.contains("[QuendaAPI] Using host") && waited < 400; ++waited)
        output.pump(50);
    QThread::msleep(1500);

    int inserted = 0;
    int separated = 0;
    int empty = 0;
    QList<qint64> memory;
    QString before = editor.get("multi");
    std::printf("dictation  status     rss_kib  added\n");
    for (int i = 0; i < dictations; ++i) {
        const Recording& recording = sources.at(i % sources.size());
        const int successesBefore = output.successes();
        const int failuresBefore = output.failures();
        rightControl(display, true);
        QThread::msleep(300);
        QProcess::execute(QStringLiteral("paplay"), recording.playerArguments + QStringList{recording.path});
        QThread::msleep(400);
        rightControl(display, false);

        // The outcome: an insertion line, an error, or (nothing recognised) neither within the wait.
        for (int waited = 0; waited < 300; ++waited) {
            output.pump(50);
            if (output.successes() > successesBefore || output.failures() > failuresBefore)
                break;
        }
        QThread::msleep(300); // the last keys reach the field
        const QString after = editor.get("multi");
        const QString added = after.startsWith(before) ? after.mid(before.size()) : after;
        const bool ok = !added.trimmed().isEmpty() && output.successes() > successesBefore &&
                        output.failures() == failuresBefore;
        const bool apart = before.isEmpty() ? !added.startsWith(QLatin1Char(' '))
                                            : added.startsWith(QLatin1Char(' ')) &&
                                                  !added.startsWith(QStringLiteral("  ")) &&
                                                  !before.endsWith(QLatin1Char(' '));
        inserted += ok ? 1 : 0;
        separated += ok && apart ? 1 : 0;
        empty += added.isEmpty() ? 1 : 0;
        const qint64 rss = residentKiB(quenda.processId());
        memory << rss;
        std::printf("%9d  %-9s %8lld  %s\n", i + 1, ok ? (apart ? "ok" : "glued") : "FAILED", rss,
                    qPrintable(added.left(60).replace(QLatin1Char('\n'), QLatin1Char('|'))));
        std::fflush(stdout);
        before = after;
    }

    quenda.terminate();
    quenda.waitForFinished(10000);
    XCloseDisplay(display);

    const qint64 atTen = memory.value(std::min<qsizetype>(9, memory.size() - 1));
    const qint64 atEnd = memory.last();
    // Least-squares slope of the memory from the tenth dictation on, in KiB per dictation.
    double slope = 0;
    const qsizetype first = std::min<qsizetype>(9, memory.size() - 1);
    const qsizetype n = memory.size() - first;
    if (n > 1) {
        double sx = 0, sy = 0, sxy = 0, sxx = 0;
        for (qsizetype i = first; i < memory.size(); ++i) {
            const double x = double(i - first), y = double(memory[i]);
            sx += x, sy += y, sxy += x * y, sxx += x * x;
        }
        slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    }
    std::printf("\ninserted %d of %d; separated by one space %d of %d; nothing added %d\n", inserted,
                dictations, separated, inserted, empty);
    std::printf("resident memory: %lld KiB after dictation 10, %lld KiB after dictation %d (%+lld KiB), "
                "slope from 10 on %+.1f KiB per dictation\n",
                atTen, atEnd, dictations, atEnd - atTen, slope);
    return inserted == dictations && separated == inserted ? 0 : 1;
}
