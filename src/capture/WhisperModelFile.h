#pragma once

#include <QString>

#include <optional>

class QIODevice;

namespace quenda {

// What a whisper model file says about itself.
struct WhisperModelInfo {
    int vocabularySize = 0;
    int audioContext = 0;
    int state = 0; // the width of the encoder and the decoder
    int audioHeads = 0;
    int audioLayers = 0;
    int textContext = 0;
    int textHeads = 0;
    int textLayers = 0;
    int mels = 0;
    int weightType = 0; // the file's ftype, without its quantisation version
    int tensorCount = 0;
    qint64 fileSize = 0;

    bool isMultilingual() const { return vocabularySize >= 51865; }
    // "tiny", "base", "small", "medium", "large" or "custom", with ".en" for English-only models.
    QString shapeName() const;
};

// Checks the structure of a whisper model file (the ggml format) without reading its weights: the magic,
// sane hyperparameters, the mel filters, a vocabulary with every text token, and exactly the tensors the
// hyperparameters call for, each with the expected name, dimensions and element type, whose sizes add up
// to the end of the file. The library's own loader trusts the file; a truncated or damaged one must never
// reach it.
class WhisperModelFile {
public:
    // On failure `error` says what is wrong, for the user.
    static std::optional<WhisperModelInfo> inspect(QIODevice& device, QString* error);
    static std::optional<WhisperModelInfo> inspect(const QString& path, QString* error);
};

} // namespace quenda
