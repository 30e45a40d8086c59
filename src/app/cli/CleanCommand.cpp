#include "app/cli/CleanCommand.h"

#include "app/AppServices.h"
#include "app/cli/CommandLine.h"
#include "base/Log.h"
#include "base/Scheduler.h"
#include "text/TextEnhancer.h"

#include <QEventLoop>

#include <cstdio>

namespace quenda {

namespace {

int runClean(CommandLine& cli, const QStringList& args)
{
    Scheduler& mainQueue = cli.services().mainQueue();
    QString text;
    std::optional<QString> app;
    bool haveText = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--app")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                return cli.usageError(QStringLiteral("--app needs an application id"));
            app = args[++i];
        } else if (!haveText) {
            text = args[i];
            haveText = true;
        } else {
            return cli.usageError(QStringLiteral("clean takes one text"));
        }
    }
    if (!haveText || text.isEmpty())
        return cli.usageError(QStringLiteral("clean needs the raw text"));

    // Standard output carries only the text; the components' log lines go to standard error.
    Log::setSink([](const QString& line) {
        const QByteArray bytes = line.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    });

    TextEnhancer& enhancer = cli.services().textEnhancer();
    {
        QEventLoop loading; // the stored credentials arrive from the keyring
        bool loaded = false;
        enhancer.whenCredentialsLoaded([&] {
            loaded = true;
            loading.quit();
        });
        if (!loaded)
            loading.exec();
    }
    if (!enhancer.isCleanUpAvailable())
        return cli.failure(QStringLiteral("no clean-up route: sign in, or store a Groq key "
                                          "(quenda config set groq_api_key KEY)"));

    QTextStream& out = cli.out();
    QEventLoop loop;
    bool streamedAny = false;
    EnhancementResult outcome;
    enhancer.enhanceText(
        text, app,
        [&mainQueue, &out, &streamedAny](const QString& piece) {
            // Pieces come from the network thread: printed on the main queue, in order, as they arrive.
            mainQueue.post([&out, &streamedAny, piece] {
                out << piece;
                out.flush();
                streamedAny = true;
            });
        },
        [&mainQueue, &loop, &outcome](const EnhancementResult& result) {
            mainQueue.post([&loop, &outcome, result] {
                outcome = result;
                loop.quit();
            });
        });
    loop.exec();

    if (streamedAny)
        out << '\n';
    out << outcome.text << '\n';
    out.flush();
    if (outcome.error)
        return cli.failure(QStringLiteral("clean-up failed: ") + *outcome.error);
    if (!outcome.wasEnhanced)
        return cli.failure(QStringLiteral("the text was not cleaned up"));
    return 0;
}

} // namespace

void addCleanCommand(CommandLine& commandLine)
{
    CommandLine* cli = &commandLine;
    commandLine.addCommand(
        QStringLiteral("clean"),
        QStringLiteral(
            "  clean TEXT [--app ID]               clean TEXT up with the language model (backend or Groq)\n"
            "                                      as if dictated into app ID; prints the pieces as\n"
            "                                      they stream in, then the result\n"),
        [cli](const QStringList& args) { return runClean(*cli, args); });
}

} // namespace quenda
