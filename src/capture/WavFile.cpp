#include "capture/WavFile.h"

#include <QFile>
#include <QtEndian>

namespace quenda {

namespace {

quint32 u32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

quint16 u16(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

std::optional<AudioBuffer> fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

} // namespace

std::optional<AudioBuffer> WavFile::read(const QString& path, QString* error)
{
    QFile file(path);
    // Unbuffered: a buffered read would fill its whole buffer first, and a pipe may never have that much.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return fail(error, file.errorString());
    // The header first: anything that is not a WAV file is refused before more of it is read, however large
    // (or endless) it is.
    QByteArray kept = file.read(12);
    if (kept.size() < 12 || !kept.startsWith("RIFF") || kept.mid(8, 4) != "WAVE")
        return fail(error, QStringLiteral("not a WAV file"));
    // Then chunk by chunk, none read further than its header says: only the format and the audio are kept.
    for (;;) {
        const QByteArray header = file.read(8);
        if (header.size() < 8)
            break;
        const qint64 size = u32(header, 4);
        const qint64 padded = size + (size & 1);
        const bool isData = header.startsWith("data");
        if (!isData && !header.startsWith("fmt ")) {
            if (file.skip(padded) < padded)
                break;
            continue;
        }
        kept += header;
        kept += file.read(isData ? size : padded);
        if (isData)
            break;
    }
    return parse(kept, error);
}

std::optional<AudioBuffer> WavFile::parse(const QByteArray& bytes, QString* error)
{
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return fail(error, QStringLiteral("not a WAV file"));
    std::optional<AudioBuffer> format;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const qsizetype size = u32(bytes, at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt ") {
            if (size < 16 || body + 16 > bytes.size())
                return fail(error, QStringLiteral("damaged format chunk"));
            quint16 tag = u16(bytes, body);
            const quint16 channels = u16(bytes, body + 2);
            const quint32 rate = u32(bytes, body + 4);
            const quint16 bits = u16(bytes, body + 14);
            if (tag == 0xFFFE && size >= 26 && body + 26 <= bytes.size())
                tag = u16(bytes, body + 24); // WAVE_FORMAT_EXTENSIBLE: the sub-format's tag
            AudioBuffer buffer;
            if (tag == 1 && bits == 16)
                buffer.format = AudioBuffer::SampleFormat::Int16;
            else if (tag == 3 && bits == 32)
                buffer.format = AudioBuffer::SampleFormat::Float32;
            else
                return fail(error,
                            QStringLiteral("unsupported WAV encoding (format %1, %2 bits); use 16-bit PCM")
                                .arg(tag)
                                .arg(bits));
            if (channels == 0 || rate == 0)
                return fail(error, QStringLiteral("WAV file without channels or sample rate"));
            buffer.channelCount = channels;
            buffer.sampleRate = int(rate);
            format = buffer;
        } else if (id == "data") {
            if (!format)
                return fail(error, QStringLiteral("WAV data before its format"));
            format->data = bytes.mid(body, std::min(size, bytes.size() - body));
            return format;
        }
        at = body + size + (size & 1);
    }
    return fail(error, QStringLiteral("WAV file without audio data"));
}

QByteArray WavFile::encodeMonoInt16(const QByteArray& samples, int sampleRate)
{
    QByteArray out;
    out.reserve(44 + samples.size());
    auto put32 = [&out](quint32 value) {
        char raw[4];
        qToLittleEndian(value, raw);
        out.append(raw, 4);
    };
    auto put16 = [&out](quint16 value) {
        char raw[2];
        qToLittleEndian(value, raw);
        out.append(raw, 2);
    };
    out.append("RIFF");
    put32(quint32(36 + samples.size()));
    out.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(1);
    put32(quint32(sampleRate));
    put32(quint32(sampleRate * 2));
    put16(2);
    put16(16);
    out.append("data");
    put32(quint32(samples.size()));
    out.append(samples);
    return out;
}

} // namespace quenda
