#pragma once

// What the desktop tests share: running a command to its end, reading a process's output as it comes,
// holding the key that plays the Fn role, and a recording the microphone can be played.
#include "FixtureProcess.h"

#include <QProcess>
#include <QTest>

namespace desktop {

// Read speech in which the recogniser reliably hears a few of kRecordedWords.
inline const QString kRecording = QStringLiteral(
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav");
inline const char* const kRecordedWords[] = {"leisure", "consider", "power", "john"};

struct Run {
    int status = -1; // -1: it did not end normally within its time
    QString out;
    QString err;
};

// Runs a program to its end, serving this process's event loop meanwhile: the program may ask it for the
// clipboard it owns or call it over the bus.
inline Run run(const QString& program, const QStringList& arguments, int timeoutMsec = 20000)
{
    QProcess process;
    process.start(program, arguments);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMsec)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

#ifdef QUENDA_BINARY
inline Run runQuenda(const QStringList& arguments, int timeoutMsec = 20000)
{
    return run(QStringLiteral(QUENDA_BINARY), arguments, timeoutMsec);
}
#endif

// Collects what the process writes into `seen` until it contains `wanted`.
inline bool waitForOutput(QProcess& process, QByteArray& seen, const QByteArray& wanted,
                          int timeoutMsec = 20000)
{
    return QTest::qWaitFor(
        [&] {
            seen += process.readAllStandardOutput() + process.readAllStandardError();
            return seen.contains(wanted);
        },
        timeoutMsec);
}

// Holds or releases Right Ctrl, the key that plays the Fn role, through XTest.
inline bool holdRightControl(bool down)
{
    return run(QStringLiteral("xdotool"),
               {down ? QStringLiteral("keydown") : QStringLiteral("keyup"), QStringLiteral("Control_R")})
               .status == 0;
}

} // namespace desktop
