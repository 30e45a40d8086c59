#include "app/cli/RunCommand.h"

#include "app/AppServices.h"
#include "app/InterruptWatcher.h"
#include "app/cli/CommandLine.h"
#include "app/cli/InsertCommands.h"
#include "app/cli/TerminalPill.h"
#include "base/Log.h"
#include "capture/HotkeyManager.h"
#include "core/DictationOrchestrator.h"
#include "platform/linux/LinuxDesktop.h"
#include "text/TextEnhancer.h"

#include <QEventLoop>
#include <QGuiApplication>

#include <unistd.h>

namespace quenda {

namespace {

int run(CommandLine& commandLine, const QStringList& args)
{
    bool toggle = false;
    for (const QString& arg : args) {
        if (arg == QLatin1String("--toggle"))
            toggle = true;
        else
            return commandLine.usageError(QStringLiteral("run takes no arguments besides --toggle"));
    }
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return noDesktop(commandLine);

    AppServices& services = commandLine.services();
    auto pill = std::make_shared<std::unique_ptr<TerminalPill>>(
        std::make_unique<TerminalPill>(commandLine.err(), ::isatty(STDERR_FILENO) == 1));
    TerminalPill* pillView = pill->get();
    services.setPillFactory([pill]() -> std::unique_ptr<PillPresenter> { return std::move(*pill); });
    DictationPipeline* pipeline = services.pipeline();
    if (!pipeline)
        return commandLine.failure(QStringLiteral("the X11 display cannot be opened."));

    // Log lines go to standard error above the pill's line, so neither tears the other; what happened to
    // each dictation (its insertion, an error) is the command's result, on standard output.
    QTextStream logStream(stderr);
    QTextStream resultStream(stdout);
    Log::Sink previousSink =
        Log::setSink([pillView, &logStream](const QString& line) { pillView->printAbove(logStream, line); });

    DictationOrchestrator& orchestrator = pipeline->orchestrator();
    HotkeyManager& hotkey = pipeline->hotkeyManager();
    hotkey.setMode(toggle ? HotkeyMode::toggle : HotkeyMode::holdToTalk);
    orchestrator.configurePipeline();

    QTextStream& err = commandLine.err();
    err << "Quenda is running: " << (toggle ? "press " : "hold ") << hotkey.displayString()
        << (toggle ? " to start and again to stop" : ", speak, let go") << ". Ctrl+C quits.\n";
    if (hotkey.listenerErrorMessage())
        err << "Hotkey: " << *hotkey.listenerErrorMessage() << '\n';
    if (LinuxDesktop* desktop = services.linuxDesktop();
        desktop && desktop->audioInput().inputFormat().sampleRate <= 0)
        err << "Microphone: no input device (dictations say \"Mic unavailable\" until one is there).\n";
    err.flush();
    // Known once the stored credentials have come from the keyring.
    services.textEnhancer().whenCredentialsLoaded([&err, &orchestrator] {
        err << "Clean-up: "
            << (orchestrator.textEnhancer().isCleanUpAvailable()
                    ? "on"
                    : "off (no Groq key and not signed in: transcripts are inserted as heard)")
            << '\n';
        err.flush();
    });

    QEventLoop loop; // also the context of the connections below: they end with the command
    QObject::connect(&orchestrator, &DictationOrchestrator::lastInsertionStatusChanged, &loop, [&] {
        pillView->printAbove(resultStream,
                             QStringLiteral("Insertion: ") + orchestrator.lastInsertionStatus());
    });
    QObject::connect(&orchestrator, &DictationOrchestrator::stateChanged, &loop, [&] {
        if (orchestrator.state().isError())
            pillView->printAbove(resultStream, QStringLiteral("Error: ") + orchestrator.state().message());
    });

    InterruptWatcher interrupt;
    QObject::connect(&interrupt, &InterruptWatcher::interrupted, &loop, &QEventLoop::quit);
    loop.exec();

    Log::setSink(std::move(previousSink));
    err << "\nQuenda stopped.\n";
    err.flush();
    return 0;
}

} // namespace

void addRunCommand(CommandLine& commandLine)
{
    commandLine.addCommand(
        QStringLiteral("run"),
        QStringLiteral(
            "  run [--toggle]                      dictate for real: hold the hotkey, speak, let go;\n"
            "                                      the text goes into the front application\n"),
        [&commandLine](const QStringList& args) { return run(commandLine, args); });
}

} // namespace quenda
