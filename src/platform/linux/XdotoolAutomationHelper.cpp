#include "platform/linux/XdotoolAutomationHelper.h"

#include <QProcess>
#include <QStandardPaths>

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

std::optional<QString> XdotoolAutomationHelper::sendKeys(const QString& combination)
{
    // --clearmodifiers: keys the user still holds must not join the combination.
    return run({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), combination});
}

} // namespace quenda
