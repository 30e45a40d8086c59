#include "ui/settings/SpeechSettingsModel.h"

#include "base/Log.h"
#include "base/UserDefaults.h"
#include "capture/SpeechEngineSelector.h"
#include "capture/WhisperModelFile.h"
#include "net/ModelDownloader.h"
#include "ui/Background.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <utility>

namespace quenda {

namespace {

QString megabytes(qint64 bytes)
{
    const double mb = double(bytes) / 1e6;
    return QString::number(mb, 'f', mb < 10 ? 1 : 0) + QStringLiteral(" MB");
}

const char* engineValue(SpeechSettingsModel::Engine engine)
{
    switch (engine) {
    case SpeechSettingsModel::Engine::whisper:
        return "whisper";
    case SpeechSettingsModel::Engine::endpoint:
        return "endpoint";
    case SpeechSettingsModel::Engine::pocketsphinx:
        break;
    }
    return "pocketsphinx";
}

std::optional<QString> validateModel(const QString& path)
{
    QString why;
    if (WhisperModelFile::inspect(path, &why))
        return std::nullopt;
    return why;
}

} // namespace

SpeechSettingsModel::SpeechSettingsModel(Scheduler& mainQueue, UserDefaults& defaults,
                                         QList<WhisperModelSpec> models, QObject* parent)
    : QObject(parent)
    , m_mainQueue(mainQueue)
    , m_defaults(defaults)
    , m_models(std::move(models))
{
    // A choice made elsewhere (the command line, another window) shows at once.
    for (const QString& key : {SpeechEngineSelector::engineKey, WhisperModelCatalog::modelPathKey})
        m_defaults.onChange(key, this, [this] { Q_EMIT changed(); });
}

SpeechSettingsModel::~SpeechSettingsModel() = default;

QString SpeechSettingsModel::engineTitle(Engine engine)
{
    switch (engine) {
    case Engine::whisper:
        return tr("Whisper");
    case Engine::endpoint:
        return tr("Transcription Service");
    case Engine::pocketsphinx:
        break;
    }
    return tr("PocketSphinx");
}

SpeechSettingsModel::Engine SpeechSettingsModel::engine() const
{
    const QString value = m_defaults.stringValue(SpeechEngineSelector::engineKey).value_or(QString());
    if (value == QLatin1String("whisper"))
        return Engine::whisper;
    if (value == QLatin1String("endpoint"))
        return Engine::endpoint;
    return Engine::pocketsphinx;
}

void SpeechSettingsModel::setEngine(Engine engine)
{
    if (engine == this->engine())
        return;
    m_defaults.setString(SpeechEngineSelector::engineKey, QString::fromLatin1(engineValue(engine)));
    log("Speech", QStringLiteral("Speech engine set to %1; the next dictation uses it.")
                      .arg(QString::fromLatin1(engineValue(engine))));
}

QString SpeechSettingsModel::engineCaption() const
{
    switch (engine()) {
    case Engine::whisper:
        if (needsModel())
            return tr("Whisper needs a model: download one below. Until then PocketSphinx listens.");
        return tr("Accurate, on this computer. The model in use is marked below.");
    case Engine::endpoint: {
        const QString url =
            m_defaults.stringValue(SpeechEngineSelector::urlKey).value_or(QString()).trimmed();
        if (url.isEmpty())
            return tr("Your audio goes to Groq's transcription with your Groq key (set transcriptionURL to "
                      "use another service).");
        return tr("Your audio goes to %1.").arg(url);
    }
    case Engine::pocketsphinx:
        break;
    }
    return tr("Quick and on this computer, but it misses more words than Whisper.");
}

std::optional<WhisperModelSpec> SpeechSettingsModel::spec(const QString& name) const
{
    for (const WhisperModelSpec& s : m_models)
        if (s.name == name)
            return s;
    return std::nullopt;
}

QList<SpeechSettingsModel::ModelRow> SpeechSettingsModel::models() const
{
    const QFileInfo inUse(WhisperModelCatalog::chosenModelPath(m_defaults));
    QList<ModelRow> rows;
    for (const WhisperModelSpec& s : m_models) {
        ModelRow row{s.name, megabytes(s.size), s.multilingual};
        const QFileInfo file(path(s));
        row.installed = file.isFile();
        row.inUse = row.installed && inUse.isFile() && file == inUse;
        if (!row.installed && s.size > 0) {
            if (const QFileInfo part(ModelDownloader::partPath(file.filePath())); part.isFile())
                row.partialPercent = int(part.size() * 100 / s.size);
        }
        rows.append(row);
    }
    return rows;
}

bool SpeechSettingsModel::hasInstalledModel() const
{
    return QFileInfo(WhisperModelCatalog::chosenModelPath(m_defaults)).isFile();
}

QString SpeechSettingsModel::recommendedModel() const
{
    const QString wanted =
        QLocale::system().language() == QLocale::English ? QStringLiteral("base.en") : QStringLiteral("base");
    if (spec(wanted) || m_models.isEmpty())
        return wanted;
    return m_models.first().name;
}

QString SpeechSettingsModel::sizeText(const QString& name) const
{
    const std::optional<WhisperModelSpec> s = spec(name);
    return s ? megabytes(s->size) : QString();
}

bool SpeechSettingsModel::needsModel() const
{
    return engine() == Engine::whisper && !hasInstalledModel();
}

void SpeechSettingsModel::download(const QString& name)
{
    const std::optional<WhisperModelSpec> s = spec(name);
    if (!s || isDownloading())
        return;
    m_error.reset();
    m_notice.clear();
    if (QFileInfo(path(*s)).size() == s->size) {
        finished(std::nullopt); // already here: only the choice is left to make
        return;
    }
    if (!m_downloader)
        m_downloader = std::make_unique<ModelDownloader>(m_mainQueue);
    m_downloading = s->name;
    m_received = 0;
    m_total = s->size;
    m_fraction = 0;
    const QString url = WhisperModelCatalog::downloadUrl(
        m_defaults.stringValue(WhisperModelCatalog::baseUrlKey).value_or(QString()), *s);
    log("Speech", QStringLiteral("Downloading %1 from %2").arg(s->fileName, url));
    m_downloader->start({QUrl(url), path(*s), s->size, s->sha1, &validateModel},
                        m_lifetime.guard([this](const ModelDownloader::Progress& progress) {
                            m_received = progress.received;
                            m_total = progress.total;
                            m_fraction =
                                progress.total > 0 ? double(progress.received) / double(progress.total) : 0;
                            Q_EMIT changed();
                        }),
                        m_lifetime.guard([this, name = s->name](std::optional<QString> error) {
                            if (m_downloading == name)
                                finished(std::move(error));
                        }));
    Q_EMIT changed();
}

void SpeechSettingsModel::cancelDownload()
{
    if (!isDownloading() || m_cancelling)
        return;
    m_cancelling = true;
    m_downloader->cancel();
}

QString SpeechSettingsModel::progressText() const
{
    if (!isDownloading())
        return {};
    return tr("Downloading %1: %2 of %3").arg(m_downloading, megabytes(m_received), megabytes(m_total));
}

void SpeechSettingsModel::finished(std::optional<QString> error)
{
    const QString name = std::exchange(m_downloading, QString());
    const bool cancelled = std::exchange(m_cancelling, false);
    m_fraction = 0;
    if (cancelled) {
        log("Speech", QStringLiteral("Download of %1 cancelled").arg(name));
        report(std::nullopt, tr("The download stopped; Download takes it up where it stopped."));
        return;
    }
    if (error) {
        log("Speech", QStringLiteral("Download of %1 failed: %2").arg(name, *error));
        report(tr("Downloading %1 failed: %2").arg(name, *error));
        return;
    }
    const std::optional<WhisperModelSpec> s = spec(name);
    log("Speech", QStringLiteral("Downloaded %1").arg(s ? path(*s) : name));
    // A first model becomes the one in use; another waits for "Use".
    if (s && !hasInstalledModel()) {
        m_defaults.setString(WhisperModelCatalog::modelPathKey, path(*s));
        report(std::nullopt, tr("%1 is downloaded and in use.").arg(name));
        return;
    }
    report(std::nullopt, tr("%1 is downloaded.").arg(name));
}

void SpeechSettingsModel::use(const QString& name)
{
    const std::optional<WhisperModelSpec> s = spec(name);
    if (!s)
        return;
    const QString file = path(*s);
    if (!QFileInfo(file).isFile()) {
        report(tr("%1 is not downloaded.").arg(name));
        return;
    }
    // The check reads the model's whole table of tensors: not on the main thread.
    inBackground(
        m_pool, [file] { return validateModel(file); },
        m_lifetime.guard([this, name, file](std::optional<QString> why) {
            if (why) {
                report(tr("%1 cannot be used: %2").arg(name, *why));
                return;
            }
            m_defaults.setString(WhisperModelCatalog::modelPathKey, file);
            log("Speech", QStringLiteral("The whisper engine uses %1").arg(file));
            report(std::nullopt, tr("%1 is in use from the next dictation on.").arg(name));
        }));
}

void SpeechSettingsModel::remove(const QString& name)
{
    const std::optional<WhisperModelSpec> s = spec(name);
    if (!s || m_downloading == name)
        return;
    const QString file = path(*s);
    const QString chosen = m_defaults.stringValue(WhisperModelCatalog::modelPathKey).value_or(QString());
    const bool wasChosen = !chosen.isEmpty() && QFileInfo(chosen) == QFileInfo(file);
    QFile::remove(ModelDownloader::partPath(file));
    if (QFileInfo(file).isFile() && !QFile::remove(file)) {
        report(tr("Cannot remove %1.").arg(file));
        return;
    }
    if (wasChosen)
        m_defaults.remove(WhisperModelCatalog::modelPathKey);
    log("Speech", QStringLiteral("Removed %1").arg(file));
    report(std::nullopt, tr("%1 was removed.").arg(name));
}

void SpeechSettingsModel::report(std::optional<QString> error, QString notice)
{
    m_error = std::move(error);
    m_notice = std::move(notice);
    Q_EMIT changed();
}

} // namespace quenda
