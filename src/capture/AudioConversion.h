#pragma once

#include "platform/AudioBuffer.h"

#include <QByteArray>

namespace quenda {

// Sample conversions for engines that want one fixed format (16-bit mono at a known rate).
class AudioConversion {
public:
    // The buffer mixed down to one channel of native-endian 16-bit samples at its own rate.
    static QByteArray toMonoInt16(const AudioBuffer& buffer);
    // Linear resampling of 16-bit mono samples; `position` carries the fractional read position between
    // consecutive blocks of one stream, `last` the final sample of the previous block.
    static QByteArray resampleMonoInt16(const QByteArray& samples, int fromRate, int toRate, double& position,
                                        qint16& last);
};

} // namespace quenda
