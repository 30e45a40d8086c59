#include "capture/WhisperModelCatalog.h"

#include "base/UserDefaults.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace quenda {

const QList<WhisperModelSpec>& WhisperModelCatalog::models()
{
    // The SHA-1 of each file is the one whisper.cpp publishes in its models/README.md ("Available
    // models"); the sizes are those of the files its model host serves (ggml f16 conversions of the
    // released weights).
    static const QList<WhisperModelSpec> list = {
        {QStringLiteral("tiny"), QStringLiteral("ggml-tiny.bin"), 77691713,
         "bd577a113a864445d4c299885e0cb97d4ba92b5f", true},
        {QStringLiteral("tiny.en"), QStringLiteral("ggml-tiny.en.bin"), 77704715,
         "c78c86eb1a8faa21b369bcd33207cc90d64ae9df", false},
        {QStringLiteral("base"), QStringLiteral("ggml-base.bin"), 147951465,
         "465707469ff3a37a2b9b8d8f89f2f99de7299dac", true},
        {QStringLiteral("base.en"), QStringLiteral("ggml-base.en.bin"), 147964211,
         "137c40403d78fd54d454da0f9bd998f78703390c", false},
        {QStringLiteral("small"), QStringLiteral("ggml-small.bin"), 487601967,
         "55356645c2b361a969dfd0ef2c5a50d530afd8d5", true},
        {QStringLiteral("small.en"), QStringLiteral("ggml-small.en.bin"), 487614201,
         "db8a495a91d927739e50b3fc1cc4c6b8f6c2d022", false},
    };
    return list;
}

std::optional<WhisperModelSpec> WhisperModelCatalog::find(const QString& name)
{
    for (const WhisperModelSpec& spec : models()) {
        if (spec.name == name || spec.fileName == name)
            return spec;
    }
    return std::nullopt;
}

QString WhisperModelCatalog::modelsDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quenda/models");
}

QString WhisperModelCatalog::downloadedPath(const WhisperModelSpec& spec)
{
    return modelsDirectory() + QLatin1Char('/') + spec.fileName;
}

QString WhisperModelCatalog::chosenModelPath(const UserDefaults& defaults)
{
    const QString chosen = defaults.stringValue(modelPathKey).value_or(QString()).trimmed();
    if (!chosen.isEmpty())
        return chosen;
    for (const char* name : {"base.en", "base", "small.en", "small", "tiny.en", "tiny"}) {
        const QString path = downloadedPath(*find(QString::fromLatin1(name)));
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

QString WhisperModelCatalog::downloadUrl(const QString& baseUrl, const WhisperModelSpec& spec)
{
    QString base = baseUrl.trimmed();
    if (base.isEmpty())
        base = defaultBaseUrl;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + spec.fileName;
}

} // namespace quenda
