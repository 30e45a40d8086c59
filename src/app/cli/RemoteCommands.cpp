#include "app/cli/RemoteCommands.h"

#include "app/RemoteControl.h"
#include "app/cli/CommandLine.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace quenda {

namespace {
constexpr int callTimeoutMsec = 5000;

int call(CommandLine& commandLine, const QString& method, const QVariantList& arguments = {})
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return commandLine.failure(QStringLiteral("the session bus cannot be reached, so Quenda cannot be "
                                                  "asked (is DBUS_SESSION_BUS_ADDRESS set?)."));
    if (!bus.interface()->isServiceRegistered(RemoteControl::serviceName).value())
        return commandLine.failure(QStringLiteral("Quenda is not running. Start it with `quenda`."));
    QDBusMessage message = QDBusMessage::createMethodCall(
        RemoteControl::serviceName, RemoteControl::objectPath, RemoteControl::interfaceName, method);
    message.setArguments(arguments);
    const QDBusMessage reply = bus.call(message, QDBus::Block, callTimeoutMsec);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return commandLine.failure(QStringLiteral("Quenda did not take the request: ") +
                                   reply.errorMessage());
    return 0;
}

void addSimple(CommandLine& commandLine, const QString& name, const QString& method, const QString& usage)
{
    commandLine.addCommand(name, usage, [&commandLine, name, method](const QStringList& args) {
        if (!args.isEmpty())
            return commandLine.usageError(QStringLiteral("%1 takes no arguments.").arg(name));
        return call(commandLine, method);
    });
}
} // namespace

void addRemoteCommands(CommandLine& commandLine)
{
    addSimple(commandLine, QStringLiteral("toggle"), QStringLiteral("Toggle"),
              QStringLiteral("  toggle | start | stop               start or stop a dictation in the running "
                             "Quenda\n"));
    addSimple(commandLine, QStringLiteral("start"), QStringLiteral("Start"), {});
    addSimple(commandLine, QStringLiteral("stop"), QStringLiteral("Stop"), {});
    addSimple(commandLine, QStringLiteral("quit"), QStringLiteral("Quit"),
              QStringLiteral("  quit                                quit the running Quenda\n"));
    commandLine.addCommand(
        QStringLiteral("open"),
        QStringLiteral(
            "  open ID                             open a window of the running Quenda; ID is one of\n"
            "                                      %1\n")
            .arg(RemoteControl::windowIds().join(u' ')),
        [&commandLine](const QStringList& args) {
            if (args.size() != 1)
                return commandLine.usageError(QStringLiteral("open takes one window ID."));
            if (!RemoteControl::windowIds().contains(args.first()))
                return commandLine.usageError(QStringLiteral("unknown window \"%1\"; one of: %2")
                                                  .arg(args.first(), RemoteControl::windowIds().join(u", ")));
            return call(commandLine, QStringLiteral("OpenWindow"), {args.first()});
        });
}

} // namespace quenda
