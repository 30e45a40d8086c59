#include "app/CommandLine.h"
#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "text/PersonalDictionary.h"
#include "text/SnippetManager.h"

#include <QCoreApplication>
#ifdef QUENDA_LINUX_DESKTOP
#include "app/InsertCommands.h"
#endif

#include <cstdio>

int main(int argc, char** argv)
{
#ifdef QUENDA_LINUX_DESKTOP
    const std::unique_ptr<QCoreApplication> app = quenda::createApplicationFor(argc, argv);
#else
    const auto app = std::make_unique<QCoreApplication>(argc, argv);
#endif
    QCoreApplication::setApplicationName(QStringLiteral("Quenda"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUENDA_VERSION));

    quenda::QtScheduler mainQueue;
    quenda::PersonalDictionary::setSharedScheduler(&mainQueue);

    QTextStream out(stdout);
    QTextStream err(stderr);
    quenda::CommandLine commandLine(quenda::UserDefaults::standard(), quenda::SnippetManager::shared(),
                                    quenda::PersonalDictionary::shared(), out, err);
#ifdef QUENDA_LINUX_DESKTOP
    quenda::addInsertCommands(commandLine, mainQueue);
#endif
    return commandLine.run(QCoreApplication::arguments().mid(1));
}
