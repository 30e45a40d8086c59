#include "app/cli/ModelCommand.h"

#include "app/AppServices.h"
#include "app/cli/CommandLine.h"
#include "base/UserDefaults.h"
#include "capture/WhisperModelCatalog.h"
#include "capture/WhisperModelFile.h"
#include "net/ModelDownloader.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace quenda {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("ModelCommand", text);
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 1) + QStringLiteral(" MB");
}

QString describe(const WhisperModelInfo& info)
{
    return QStringLiteral("%1, %2").arg(info.shapeName(),
                                        info.isMultilingual() ? tr("multilingual") : tr("English"));
}

std::optional<QString> validate(const QString& path)
{
    QString why;
    if (WhisperModelFile::inspect(path, &why))
        return std::nullopt;
    return why;
}

class ModelCommand {
public:
    ModelCommand(CommandLine& commandLine, UserDefaults& defaults, Scheduler& mainQueue)
        : m_cli(commandLine)
        , m_defaults(defaults)
        , m_mainQueue(mainQueue)
    {}

    int run(const QStringList& args)
    {
        const QString action = args.value(0);
        if (action == QLatin1String("list") && args.size() == 1)
            return list();
        if (action == QLatin1String("download") && args.size() == 2)
            return download(args[1]);
        if (action == QLatin1String("use") && args.size() == 2)
            return use(args[1]);
        if (action == QLatin1String("remove") && args.size() == 2)
            return remove(args[1]);
        return m_cli.usageError(tr("model takes list, download NAME, use PATH or remove NAME"));
    }

private:
    QString chosen() const
    {
        return m_defaults.stringValue(WhisperModelCatalog::modelPathKey).value_or(QString());
    }

    int list()
    {
        const QString inUse = WhisperModelCatalog::chosenModelPath(m_defaults);
        for (const WhisperModelSpec& spec : WhisperModelCatalog::models()) {
            const QString path = WhisperModelCatalog::downloadedPath(spec);
            QStringList notes;
            if (QFileInfo(path).isFile())
                notes << tr("downloaded");
            else if (const QFileInfo part(ModelDownloader::partPath(path)); part.isFile())
                notes << tr("%1% downloaded").arg(part.size() * 100 / spec.size);
            if (QFileInfo(path) == QFileInfo(inUse))
                notes << tr("in use");
            m_cli.out() << spec.name.leftJustified(10) << megabytes(spec.size).rightJustified(9) << "  "
                        << (spec.multilingual ? tr("multilingual") : tr("English")).leftJustified(14)
                        << notes.join(QStringLiteral(", ")) << '\n';
        }
        bool custom = !inUse.isEmpty();
        for (const WhisperModelSpec& spec : WhisperModelCatalog::models())
            custom = custom && QFileInfo(inUse) != QFileInfo(WhisperModelCatalog::downloadedPath(spec));
        if (custom)
            m_cli.out() << tr("In use: %1").arg(inUse) << '\n';
        m_cli.out() << tr("Folder: %1").arg(WhisperModelCatalog::modelsDirectory()) << '\n';
        return 0;
    }

    int download(const QString& name)
    {
        const std::optional<WhisperModelSpec> spec = WhisperModelCatalog::find(name);
        if (!spec)
            return m_cli.usageError(tr("unknown model \"%1\" (quenda model list shows them)").arg(name));
        const QString destination = WhisperModelCatalog::downloadedPath(*spec);
        if (QFileInfo(destination).size() == spec->size) {
            m_cli.out() << tr("%1 is already downloaded: %2").arg(spec->name, destination) << '\n';
            return chooseIfNone(destination);
        }
        const QString url = WhisperModelCatalog::downloadUrl(
            m_defaults.stringValue(WhisperModelCatalog::baseUrlKey).value_or(QString()), *spec);
        m_cli.err() << tr("Downloading %1 (%2) from %3").arg(spec->fileName, megabytes(spec->size), url)
                    << '\n';
        m_cli.err().flush();

        ModelDownloader downloader(m_mainQueue);
        QEventLoop loop;
        std::optional<QString> failure;
        const bool terminal = isatty(STDERR_FILENO);
        int lastTenth = -1;
        downloader.start(
            {QUrl(url), destination, spec->size, spec->sha1, &validate},
            [&](const ModelDownloader::Progress& progress) {
                const int percent = int(progress.received * 100 / std::max<qint64>(1, progress.total));
                const QString line = tr("%1% (%2 of %3)")
                                         .arg(percent)
                                         .arg(megabytes(progress.received), megabytes(progress.total));
                // A terminal gets one line that updates; a log gets a line every tenth.
                if (terminal) {
                    m_cli.err() << '\r' << line << "   ";
                } else if (percent / 10 != lastTenth) {
                    lastTenth = percent / 10;
                    m_cli.err() << line << '\n';
                }
                m_cli.err().flush();
            },
            [&](std::optional<QString> error) {
                failure = std::move(error);
                loop.quit();
            });
        loop.exec();
        if (terminal)
            m_cli.err() << '\n';
        if (failure)
            return m_cli.failure(tr("downloading %1 failed: %2").arg(spec->name, *failure));
        m_cli.out() << tr("Saved %1 to %2").arg(spec->name, destination) << '\n';
        return chooseIfNone(destination);
    }

    // A first model becomes the one in use; another one waits for `model use`.
    int chooseIfNone(const QString& path)
    {
        const QString current = chosen();
        if (current.isEmpty() || !QFileInfo(current).isFile()) {
            m_defaults.setString(WhisperModelCatalog::modelPathKey, path);
            m_cli.out() << tr("The whisper engine uses it (quenda config set speechEngine whisper to dictate "
                              "with it).")
                        << '\n';
        } else if (QFileInfo(current) != QFileInfo(path)) {
            m_cli.out() << tr("The whisper engine still uses %1 (quenda model use %2 to switch).")
                               .arg(current, QFileInfo(path).fileName())
                        << '\n';
        }
        return 0;
    }

    int use(const QString& nameOrPath)
    {
        QString path = nameOrPath;
        if (const std::optional<WhisperModelSpec> spec = WhisperModelCatalog::find(nameOrPath)) {
            path = WhisperModelCatalog::downloadedPath(*spec);
            if (!QFileInfo(path).isFile())
                return m_cli.failure(tr("%1 is not downloaded (quenda model download %1)").arg(spec->name));
        }
        path = QFileInfo(path).absoluteFilePath();
        QString why;
        const std::optional<WhisperModelInfo> info = WhisperModelFile::inspect(path, &why);
        if (!info)
            return m_cli.failure(tr("%1 cannot be used: %2").arg(path, why));
        m_defaults.setString(WhisperModelCatalog::modelPathKey, path);
        m_cli.out() << tr("The whisper engine uses %1 (%2)").arg(path, describe(*info)) << '\n';
        return 0;
    }

    int remove(const QString& name)
    {
        const std::optional<WhisperModelSpec> spec = WhisperModelCatalog::find(name);
        if (!spec)
            return m_cli.usageError(tr("unknown model \"%1\" (quenda model list shows them)").arg(name));
        const QString path = WhisperModelCatalog::downloadedPath(*spec);
        const bool hadPart = QFile::remove(ModelDownloader::partPath(path));
        const bool hadModel = QFileInfo(path).isFile();
        if (hadModel && !QFile::remove(path))
            return m_cli.failure(tr("cannot remove %1").arg(path));
        if (!hadModel && !hadPart)
            return m_cli.failure(tr("%1 is not downloaded").arg(spec->name));
        m_cli.out() << tr("Removed %1").arg(path) << '\n';
        if (!chosen().isEmpty() && QFileInfo(chosen()) == QFileInfo(path)) {
            m_defaults.remove(WhisperModelCatalog::modelPathKey);
            m_cli.out() << tr("It was the model in use; quenda model use PATH chooses another.") << '\n';
        }
        return 0;
    }

    CommandLine& m_cli;
    UserDefaults& m_defaults;
    Scheduler& m_mainQueue;
};

} // namespace

void addModelCommand(CommandLine& commandLine)
{
    commandLine.addCommand(
        QStringLiteral("model"),
        QStringLiteral(
            "  model list                          the whisper models: size, language, downloaded, in use\n"
            "  model download NAME                 download one (tiny, base, small; .en: English only)\n"
            "  model use PATH|NAME                 the model file the whisper engine uses\n"
            "  model remove NAME                   delete a downloaded model\n"),
        [&commandLine](const QStringList& args) {
            return ModelCommand(commandLine, commandLine.services().defaults(),
                                commandLine.services().mainQueue())
                .run(args);
        });
}

} // namespace quenda
