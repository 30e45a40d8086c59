#include "platform/linux/QtAudioInputWorker.h"

#include <QMediaDevices>

namespace quenda {

namespace {

QAudioFormat toQt(const AudioInput::Format& format)
{
    QAudioFormat qt;
    qt.setSampleRate(format.sampleRate);
    qt.setChannelCount(format.channelCount);
    qt.setSampleFormat(format.sampleFormat == AudioBuffer::SampleFormat::Int16 ? QAudioFormat::Int16
                                                                               : QAudioFormat::Float);
    return qt;
}

} // namespace

AudioInput::Format QtAudioInputWorker::inputFormat() const
{
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull())
        return {};
    // Speech needs no more than 16 kHz mono; the sound server resamples for us.
    const AudioInput::Format wanted{16000, 1, AudioBuffer::SampleFormat::Int16};
    if (device.isFormatSupported(toQt(wanted)))
        return wanted;
    const QAudioFormat preferred = device.preferredFormat();
    const bool isFloat = preferred.sampleFormat() == QAudioFormat::Float;
    return {preferred.sampleRate(), preferred.channelCount(),
            isFloat ? AudioBuffer::SampleFormat::Float32 : AudioBuffer::SampleFormat::Int16};
}

std::optional<QString> QtAudioInputWorker::start(const AudioInput::Format& format, int framesPerBuffer,
                                                 AudioInput::BufferCallback onBuffer)
{
    stop();
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull())
        return QStringLiteral("No audio input device available");
    m_format = format;
    const int frameBytes =
        format.channelCount * (format.sampleFormat == AudioBuffer::SampleFormat::Int16 ? 2 : 4);
    m_chunkBytes = qsizetype(framesPerBuffer) * frameBytes;
    m_onBuffer = std::move(onBuffer);
    m_source = std::make_unique<QAudioSource>(device, toQt(format));
    // Qt hands over what the sound server captured once per fragment: small fragments (20 ms) keep the
    // first audio close to the start.
    m_source->setBufferSize(std::max(frameBytes * format.sampleRate / 50, frameBytes * 64));
    m_firstDelivered = false;
    m_device = m_source->start();
    if (!m_device || m_source->error() != QAudio::NoError) {
        const QAudio::Error error = m_source->error();
        m_source.reset();
        m_device = nullptr;
        m_onBuffer = {};
        return error == QAudio::OpenError
                   ? QStringLiteral("The microphone could not be opened.")
                   : QStringLiteral("The microphone failed to start (error %1).").arg(int(error));
    }
    connect(m_device, &QIODevice::readyRead, this, [this] { drain(false); });
    return std::nullopt;
}

void QtAudioInputWorker::stop()
{
    if (!m_source)
        return;
    // What the device already holds belongs to the user's last words.
    drain(true);
    m_source->stop();
    m_source.reset();
    m_device = nullptr;
    m_pending.clear();
    m_onBuffer = {};
}

void QtAudioInputWorker::drain(bool flush)
{
    if (!m_device)
        return;
    m_pending += m_device->readAll();
    auto deliver = [this](QByteArray bytes) {
        if (!m_onBuffer)
            return;
        AudioBuffer buffer;
        buffer.format = m_format.sampleFormat;
        buffer.sampleRate = m_format.sampleRate;
        buffer.channelCount = m_format.channelCount;
        buffer.data = std::move(bytes);
        m_onBuffer(buffer);
    };
    // The first buffer goes out as soon as there is a little audio, so the level meter and the
    // recogniser start at once; the rest comes in whole buffers.
    if (!m_firstDelivered &&
        m_pending.size() >= std::min(m_chunkBytes, qsizetype(m_format.channelCount) * 2 * 128)) {
        m_firstDelivered = true;
        deliver(m_pending.left(m_chunkBytes));
        m_pending.remove(0, std::min(m_pending.size(), m_chunkBytes));
    }
    while (m_pending.size() >= m_chunkBytes) {
        deliver(m_pending.left(m_chunkBytes));
        m_pending.remove(0, m_chunkBytes);
    }
    if (flush && !m_pending.isEmpty())
        deliver(std::exchange(m_pending, {}));
}

} // namespace quenda
