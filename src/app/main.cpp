#include "app/AppServices.h"
#include "app/cli/CleanCommand.h"
#include "app/cli/CommandLine.h"
#include "app/cli/ModelCommand.h"
#ifdef QUENDA_LINUX_DESKTOP
#include "app/TrayApplication.h"
#include "app/cli/CaptureCommands.h"
#include "app/cli/InsertCommands.h"
#include "app/cli/RemoteCommands.h"
#include "app/cli/RunCommand.h"
#endif

#include <QCoreApplication>

#include <memory>

int main(int argc, char** argv)
{
#ifdef QUENDA_LINUX_DESKTOP
    const std::unique_ptr<QCoreApplication> app = quenda::createApplicationFor(argc, argv);
#else
    const auto app = std::make_unique<QCoreApplication>(argc, argv);
#endif
    QCoreApplication::setApplicationName(QStringLiteral("Quenda"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUENDA_VERSION));

    // Every long-lived service of the process, owned here and handed out by reference.
    quenda::AppServices services;
#ifdef QUENDA_LINUX_DESKTOP
    if (quenda::isTrayApplication(argc, argv) && qEnvironmentVariableIsSet("DISPLAY")) {
        if (const std::optional<QString> problem = quenda::desktopProblem()) {
            QTextStream(stderr) << "quenda: the tray application needs an X11 display: " << *problem << ".\n";
            return 1;
        }
        quenda::TrayApplication tray(services);
        return tray.run(QCoreApplication::arguments().mid(1));
    }
#endif

    QTextStream out(stdout);
    QTextStream err(stderr);
    quenda::CommandLine commandLine(services, out, err);
    quenda::addCleanCommand(commandLine);
    quenda::addModelCommand(commandLine);
#ifdef QUENDA_LINUX_DESKTOP
    quenda::addCaptureCommands(commandLine);
    quenda::addInsertCommands(commandLine);
    quenda::addRunCommand(commandLine);
    quenda::addRemoteCommands(commandLine);
#endif
    return commandLine.run(QCoreApplication::arguments().mid(1));
}
