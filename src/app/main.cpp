#include "app/CleanCommand.h"
#include "app/CommandLine.h"
#include "app/ModelCommand.h"
#ifdef QUENDA_LINUX_DESKTOP
#include "app/CaptureCommands.h"
#include "app/InsertCommands.h"
#include "app/RunCommand.h"
#endif
#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "net/KeychainStore.h"
#include "text/PersonalDictionary.h"
#include "text/SnippetManager.h"

#ifdef QUENDA_LINUX_DESKTOP
#include "platform/linux/SecretServiceStore.h"
#endif

#include <QCoreApplication>

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
#ifdef QUENDA_LINUX_DESKTOP
    // Secrets live in the Secret Service; the keychain store falls back to a private file without one.
    quenda::KeychainStore::setSharedSecretStore(new quenda::linux_platform::SecretServiceStore);
#endif

    QTextStream out(stdout);
    QTextStream err(stderr);
    quenda::CommandLine commandLine(quenda::UserDefaults::standard(), quenda::SnippetManager::shared(),
                                    quenda::PersonalDictionary::shared(), out, err);
    quenda::addCleanCommand(commandLine, mainQueue);
    quenda::addModelCommand(commandLine, quenda::UserDefaults::standard(), mainQueue);
#ifdef QUENDA_LINUX_DESKTOP
    quenda::addCaptureCommands(commandLine, quenda::UserDefaults::standard(), mainQueue);
    quenda::addInsertCommands(commandLine, mainQueue);
    quenda::addRunCommand(commandLine, mainQueue, quenda::UserDefaults::standard());
#endif
    return commandLine.run(QCoreApplication::arguments().mid(1));
}
