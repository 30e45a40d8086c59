#pragma once

#include "platform/Workspace.h"

#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QTest>

// A fixture editor started by a desktop test and driven over its stdin. While waiting for an answer the
// test's own event loop keeps running: the fixture may be asking the test for the clipboard it owns.
class FixtureProcess {
public:
    static QString python()
    {
        // The system interpreter has the GTK bindings; a user-installed one on PATH may not.
        return QFileInfo::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                     : QStringLiteral("python3");
    }

    bool start(const QString& program, const QStringList& arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("GTK_A11Y"), QStringLiteral("atspi"));
        environment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("0"));
        m_process.setProcessEnvironment(environment);
        // Its warnings (a keymap it could not compile, a bus it could not reach) belong in the test log.
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, arguments);
        return m_process.waitForStarted(10000) && readLine(20000) == "ready";
    }
    ~FixtureProcess() { stop(); }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    qint64 pid() const { return m_process.processId(); }
    QByteArray errors() { return m_process.readAllStandardError(); }

    QByteArray command(const QByteArray& line)
    {
        m_process.write(line + '\n');
        m_process.waitForBytesWritten(1000);
        return readLine(10000);
    }
    bool ok(const QByteArray& line) { return command(line) == "ok"; }

    bool set(const QByteArray& field, const QString& text)
    {
        return ok("set " + field + ' ' + text.toUtf8().toBase64());
    }
    bool select(const QByteArray& field, int start, int length)
    {
        return ok("select " + field + ' ' + QByteArray::number(start) + ' ' + QByteArray::number(length));
    }
    QString get(const QByteArray& field)
    {
        const QByteArray answer = command("get " + field);
        return answer.startsWith("text") ? QString::fromUtf8(QByteArray::fromBase64(answer.mid(5)))
                                         : QStringLiteral("<no answer: %1>").arg(QString::fromUtf8(answer));
    }

    // Every format on the clipboard as "type base64" lines, read by another process (the fixture editor
    // in --dump-clipboard mode) while this one keeps serving the clipboard it may own.
    static QStringList clipboardFormats(const QString& fixtureEditor)
    {
        QProcess dumper;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        dumper.setProcessEnvironment(environment);
        dumper.start(fixtureEditor, {QStringLiteral("--dump-clipboard")});
        QByteArray buffer;
        const auto ended = [&] {
            dumper.waitForReadyRead(5);
            return (buffer += dumper.readAllStandardOutput()).contains("end\n");
        };
        if (QTest::qWaitFor(ended, 15000))
            dumper.waitForFinished(3000);
        QStringList lines;
        for (const QByteArray& line : buffer.split('\n'))
            if (!line.isEmpty() && line != "end")
                lines << QString::fromUtf8(line);
        return lines;
    }

    QByteArray readLine(int timeoutMsec)
    {
        const auto answered = [&] {
            m_process.waitForReadyRead(5);
            return m_process.canReadLine() || m_process.state() != QProcess::Running;
        };
        return QTest::qWaitFor(answered, timeoutMsec) && m_process.canReadLine()
                   ? m_process.readLine().trimmed()
                   : QByteArray();
    }

private:
    QProcess m_process;
};

// Waits until the window manager reports the process in front, repeating the request meanwhile: a window
// manager may drop one.
inline bool bringForward(quenda::Workspace& workspace, qint64 pid, int timeoutMsec = 10000)
{
    return QTest::qWaitFor(
        [&] {
            const auto front = workspace.frontmostApplication();
            if (front && front->processIdentifier == pid)
                return true;
            workspace.activate(pid);
            return false;
        },
        timeoutMsec);
}
