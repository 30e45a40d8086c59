#include "app/cli/InsertCommands.h"

#include "app/AppServices.h"
#include "app/InterruptWatcher.h"
#include "app/cli/CommandLine.h"
#include "insert/TextInserter.h"
#include "platform/linux/X11Connection.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>

#include <cstring>

namespace quenda {

namespace {

bool isDesktopCommand(const char* name)
{
    return name && (std::strcmp(name, "insert") == 0 || std::strcmp(name, "read-focused") == 0 ||
                    std::strcmp(name, "run") == 0);
}

// Why the X11 display could not be used, found before the application was made.
std::optional<QString>& displayProblem()
{
    static std::optional<QString> problem;
    return problem;
}

void waitSeconds(double seconds)
{
    if (seconds <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

int runInsert(CommandLine& commandLine, const QStringList& args)
{
    QString text;
    double after = 0;
    bool haveText = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--after")) {
            bool ok = false;
            after = i + 1 < args.size() ? args[i + 1].toDouble(&ok) : 0;
            if (!ok || after < 0 || after > 3600)
                return commandLine.usageError(
                    QStringLiteral("--after needs a number of seconds (0 to 3600)."));
            ++i;
        } else if (!haveText) {
            text = args[i];
            haveText = true;
        } else {
            return commandLine.usageError(QStringLiteral("insert takes one TEXT (quote it)."));
        }
    }
    if (!haveText || text.isEmpty())
        return commandLine.usageError(QStringLiteral("insert needs a non-empty TEXT."));

    AppServices& services = commandLine.services();
    DesktopServices* desktop = services.desktop();
    if (!desktop)
        return noDesktop(commandLine);
    TextInserter inserter(InsertionPlatform::over(*desktop, services.mainQueue(), services.defaults()));
    // Like a dictation: the target is whatever is in front when the delay is over.
    waitSeconds(after);
    const std::optional<InsertionTarget> target = inserter.captureInsertionTarget();

    QEventLoop loop;
    int status = -1;
    inserter.setOnStatusChange([&](const QString& line) {
        commandLine.out() << line << "\n";
        commandLine.out().flush();
        if (line.startsWith(QLatin1String("Trying to insert")))
            return;
        status = line.startsWith(QLatin1String("Quenda could not insert")) ? 1 : 0;
    });
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        // Done once the outcome is known and the user's clipboard is back; a line posted just before the
        // restore (a paste that never arrived) is still delivered first.
        if (status >= 0 && !inserter.clipboardInserter().isRestorePending())
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    poll.start();
    QTimer::singleShot(30000, &loop, [&] {
        commandLine.err() << "quenda: insertion did not finish within 30 s.\n";
        status = 1;
        loop.quit();
    });
    // Ctrl+C or SIGTERM stops a long typed insertion between two slices; the keyboard map is put back as
    // the desktop's services end.
    InterruptWatcher interrupt;
    QObject::connect(&interrupt, &InterruptWatcher::interrupted, &loop, [&] {
        commandLine.err() << "quenda: insertion interrupted.\n";
        status = 130;
        loop.quit();
    });
    inserter.insertText(text, target);
    loop.exec();
    return status;
}

int runReadFocused(CommandLine& commandLine, const QStringList& args)
{
    if (!args.isEmpty())
        return commandLine.usageError(QStringLiteral("read-focused takes no arguments."));
    AppServices& services = commandLine.services();
    DesktopServices* desktop = services.desktop();
    if (!desktop)
        return noDesktop(commandLine);
    AccessibilityInserter reader(
        InsertionPlatform::over(*desktop, services.mainQueue(), services.defaults()));
    std::optional<QString> value;
    QEventLoop loop;
    reader.readFocusedValue(reader.captureInsertionTarget(), [&](const std::optional<QString>& read) {
        value = read;
        loop.quit();
    });
    loop.exec();
    if (!value)
        return commandLine.failure(QStringLiteral("the focused element exposes no readable text."));
    commandLine.out() << *value << "\n";
    commandLine.out().flush();
    return 0;
}

} // namespace

bool isTrayApplication(int argc, char** argv)
{
    return argc == 1 || (argc == 2 && std::strcmp(argv[1], "--relaunched") == 0);
}

std::optional<QString> desktopProblem()
{
    return displayProblem();
}

int noDesktop(CommandLine& commandLine)
{
    return commandLine.failure(QStringLiteral("this command needs an X11 display: %1.")
                                   .arg(displayProblem().value_or(QStringLiteral("it cannot be opened"))));
}

std::unique_ptr<QCoreApplication> createApplicationFor(int& argc, char** argv)
{
    // Qt ends the process when its display platform cannot start: the display is tried first, so that the
    // command (or the tray application) can say what is wrong instead.
    const bool tray = isTrayApplication(argc, argv) && qEnvironmentVariableIsSet("DISPLAY");
    const bool desktopCommand = argc > 1 && isDesktopCommand(argv[1]);
    if (tray || desktopCommand)
        displayProblem() = X11Connection::displayProblem();
    if (displayProblem())
        return std::make_unique<QCoreApplication>(argc, argv);
    // No command at all is the tray application, which has windows.
    if (tray) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        return std::make_unique<QApplication>(argc, argv);
    }
    if (desktopCommand) {
        // The clipboard and the display connection belong to the X11 platform, whatever the caller set.
        qputenv("QT_QPA_PLATFORM", "xcb");
        return std::make_unique<QGuiApplication>(argc, argv);
    }
    return std::make_unique<QCoreApplication>(argc, argv);
}

void addInsertCommands(CommandLine& commandLine)
{
    commandLine.addCommand(
        QStringLiteral("insert"),
        QStringLiteral(
            "  insert TEXT [--after SECONDS]       insert TEXT into the front application's focused "
            "field\n"
            "                                      (after SECONDS), printing each status line\n"),
        [&commandLine](const QStringList& args) { return runInsert(commandLine, args); });
    commandLine.addCommand(
        QStringLiteral("read-focused"),
        QStringLiteral("  read-focused                        print the whole text of the focused field\n"),
        [&commandLine](const QStringList& args) { return runReadFocused(commandLine, args); });
}

} // namespace quenda
