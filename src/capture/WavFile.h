#pragma once

#include "platform/AudioBuffer.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace quenda {

// RIFF/WAVE files of PCM audio: read for `quenda transcribe`, written for transcription services.
class WavFile {
public:
    // 16-bit integer or 32-bit float PCM, any rate and channel count. On failure `error` says why.
    static std::optional<AudioBuffer> read(const QString& path, QString* error);
    static std::optional<AudioBuffer> parse(const QByteArray& bytes, QString* error);
    // A 16-bit mono file of the given samples.
    static QByteArray encodeMonoInt16(const QByteArray& samples, int sampleRate);
};

} // namespace quenda
