#pragma once

#include <QByteArray>

namespace quenda {

// One block of captured audio, interleaved frames in the capture device's own format.
struct AudioBuffer {
    enum class SampleFormat { Int16, Float32 };

    SampleFormat format = SampleFormat::Int16;
    int sampleRate = 0;
    int channelCount = 1;
    QByteArray data;

    int bytesPerSample() const { return format == SampleFormat::Int16 ? 2 : 4; }
    qsizetype frameCount() const
    {
        const qsizetype frameBytes = static_cast<qsizetype>(bytesPerSample()) * channelCount;
        return frameBytes > 0 ? data.size() / frameBytes : 0;
    }
};

} // namespace quenda
