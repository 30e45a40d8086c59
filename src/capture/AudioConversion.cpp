#include "capture/AudioConversion.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quenda {

QByteArray AudioConversion::toMonoInt16(const AudioBuffer& buffer)
{
    const qsizetype frames = buffer.frameCount();
    const int channels = std::max(1, buffer.channelCount);
    if (buffer.format == AudioBuffer::SampleFormat::Int16 && channels == 1)
        return buffer.data.left(frames * 2);
    QByteArray out(frames * 2, Qt::Uninitialized);
    const char* in = buffer.data.constData();
    for (qsizetype frame = 0; frame < frames; ++frame) {
        double sum = 0;
        for (int channel = 0; channel < channels; ++channel) {
            const qsizetype offset = (frame * channels + channel) * buffer.bytesPerSample();
            if (buffer.format == AudioBuffer::SampleFormat::Int16) {
                qint16 value;
                std::memcpy(&value, in + offset, 2);
                sum += value;
            } else {
                float value;
                std::memcpy(&value, in + offset, 4);
                sum += double(value) * 32767.0;
            }
        }
        const double mixed = std::clamp(std::round(sum / channels), -32768.0, 32767.0);
        const qint16 sample = static_cast<qint16>(mixed);
        std::memcpy(out.data() + frame * 2, &sample, 2);
    }
    return out;
}

QByteArray AudioConversion::resampleMonoInt16(const QByteArray& samples, int fromRate, int toRate,
                                              double& position, qint16& last)
{
    if (fromRate == toRate || fromRate <= 0 || toRate <= 0)
        return samples;
    const qsizetype count = samples.size() / 2;
    const auto* in = reinterpret_cast<const qint16*>(samples.constData());
    const double step = double(fromRate) / toRate;
    QByteArray out;
    out.reserve(qsizetype(count / step + 2) * 2);
    // Index -1 is the last sample of the previous block, so blocks join without a click.
    auto at = [&](qsizetype index) { return index < 0 ? last : in[index]; };
    while (position < double(count - 1)) {
        const auto index = static_cast<qsizetype>(std::floor(position));
        const double fraction = position - double(index);
        const double value = at(index) * (1.0 - fraction) + at(index + 1) * fraction;
        const qint16 sample = static_cast<qint16>(std::lround(value));
        out.append(reinterpret_cast<const char*>(&sample), 2);
        position += step;
    }
    position -= double(count);
    if (count > 0)
        last = in[count - 1];
    return out;
}

} // namespace quenda
