#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstddef>
#include <cstdint>

namespace quenda::fuzz {

// The fuzzer's bytes, and the same bytes cut into reads of the sizes the first byte picks (as a network
// stream would deliver them).
inline QByteArray bytesOf(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

inline QList<QByteArray> readsOf(const QByteArray& bytes)
{
    QList<QByteArray> reads;
    if (bytes.isEmpty())
        return reads;
    const int step = 1 + (static_cast<unsigned char>(bytes.at(0)) % 17);
    for (qsizetype at = 1; at < bytes.size(); at += step)
        reads << bytes.mid(at, step);
    return reads;
}

} // namespace quenda::fuzz
