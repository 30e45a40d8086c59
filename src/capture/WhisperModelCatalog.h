#pragma once

#include "base/Settings.h"

#include <QList>
#include <QString>

#include <optional>

namespace quenda {

class UserDefaults;

// A model file as its publisher lists it.
struct WhisperModelSpec {
    QString name;     // "base.en"
    QString fileName; // "ggml-base.en.bin"
    qint64 size = 0;  // bytes
    QByteArray sha1;  // lower-case hex
    bool multilingual = false;
};

// The whisper models Quenda offers to download, where they come from and where they go.
class WhisperModelCatalog {
public:
    static inline const QString modelPathKey = settings::whisperModelPath.key();
    static inline const QString baseUrlKey = settings::whisperModelURL.key();
    static inline const QString defaultBaseUrl =
        QStringLiteral("https://huggingface.co/ggerganov/whisper.cpp/resolve/main/");

    static const QList<WhisperModelSpec>& models();
    static std::optional<WhisperModelSpec> find(const QString& name);
    // ~/.local/share/Quenda/models (under $XDG_DATA_HOME when set).
    static QString modelsDirectory();
    // Where a catalogue model goes once downloaded.
    static QString downloadedPath(const WhisperModelSpec& spec);
    // The model the user chose ("whisperModelPath"); without a choice, the first downloaded one of
    // base.en, base, small.en, small, tiny.en, tiny. Empty when there is none.
    static QString chosenModelPath(const UserDefaults& defaults);
    // The base URL with the file name appended ("…/main/ggml-base.en.bin").
    static QString downloadUrl(const QString& baseUrl, const WhisperModelSpec& spec);
};

} // namespace quenda
