#include "platform/linux/XdotoolAutomationHelper.h"

#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace quenda {

namespace {
constexpr int helperTimeoutMsec = 5000;
}

XdotoolAutomationHelper::XdotoolAutomationHelper(QString program)
    : m_program(std::move(program))
{}

std::optional<QString> XdotoolAutomationHelper::run(const QStringList& arguments)
{
    const QString path = QStandardPaths::findExecutable(m_program);
    if (path.isEmpty())
        return QStringLiteral("the automation helper %1 is not installed.").arg(m_program);
    QProcess process;
    process.start(path, arguments);
    if (!process.waitForStarted(helperTimeoutMsec))
        return QStringLiteral("%1 could not be started.").arg(m_program);
    if (!process.waitForFinished(helperTimeoutMsec)) {
        process.kill();
        process.waitForFinished(1000);
        return QStringLiteral("%1 did not finish in time.").arg(m_program);
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString message = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        return message.isEmpty()
                   ? QStringLiteral("%1 exited with status %2.").arg(m_program).arg(process.exitCode())
                   : message;
    }
    return std::nullopt;
}

bool XdotoolAutomationHelper::probe()
{
    // Asking for the active window needs a display and a working helper, and changes nothing.
    return !run({QStringLiteral("getactivewindow")}).has_value();
}

void XdotoolAutomationHelper::sendKeys(const QString& combination, Sent sent)
{
    const QString path = QStandardPaths::findExecutable(m_program);
    if (path.isEmpty()) {
        QTimer::singleShot(0, [sent = std::move(sent), program = m_program] {
            sent(QStringLiteral("the automation helper %1 is not installed.").arg(program));
        });
        return;
    }
    // The helper runs while the event loop goes on; whichever comes first, its end or the time limit,
    // answers once and ends the process.
    auto* process = new QProcess;
    auto answered = std::make_shared<bool>(false);
    auto answer = [process, answered, sent = std::move(sent)](const std::optional<QString>& error) {
        if (*answered)
            return;
        *answered = true;
        sent(error);
        process->disconnect();
        if (process->state() != QProcess::NotRunning)
            process->kill();
        process->deleteLater();
    };
    const QString program = m_program;
    QObject::connect(process, &QProcess::errorOccurred, process, [answer, program](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            answer(QStringLiteral("%1 could not be started.").arg(program));
    });
    QObject::connect(
        process, &QProcess::finished, process,
        [answer, process, program](int exitCode, QProcess::ExitStatus status) {
            if (status == QProcess::NormalExit && exitCode == 0)
                return answer(std::nullopt);
            const QString message = QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
            answer(message.isEmpty() ? QStringLiteral("%1 exited with status %2.").arg(program).arg(exitCode)
                                     : message);
        });
    QTimer::singleShot(helperTimeoutMsec, process, [answer, program] {
        answer(QStringLiteral("%1 did not finish in time.").arg(program));
    });
    // --clearmodifiers: keys the user still holds must not join the combination.
    process->start(path, {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), combination});
}

} // namespace quenda
