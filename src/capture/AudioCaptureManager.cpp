#include "capture/AudioCaptureManager.h"

#include "base/Log.h"
#include "base/Scheduler.h"

#include <QPointer>
#include <QThreadPool>

#include <cmath>
#include <cstring>

namespace quenda {

QString describe(AudioCaptureError error)
{
    switch (error) {
    case AudioCaptureError::noInputDevice:
        return QStringLiteral("No audio input device available");
    }
    return {};
}

AudioCaptureManager::AudioCaptureManager(AudioInput& input, Scheduler& mainQueue, Runner runner,
                                         QObject* parent)
    : QObject(parent)
    , m_input(input)
    , m_mainQueue(mainQueue)
    , m_runner(std::move(runner))
{
    if (!m_runner)
        m_runner = [](std::function<void()> work) { QThreadPool::globalInstance()->start(std::move(work)); };
}

AudioCaptureManager::~AudioCaptureManager()
{
    {
        // Waits for a start still opening the device on its thread.
        std::lock_guard lock(m_lifetime->mutex);
        m_lifetime->alive = false;
    }
    setBufferHandler({});
    m_input.stop();
}

void AudioCaptureManager::setBufferHandler(BufferHandler handler)
{
    // Waits for a buffer being handed over right now, so the old consumer is never called afterwards.
    QMutexLocker locker(&m_handlerMutex);
    m_bufferHandler = std::move(handler);
}

void AudioCaptureManager::startRecording(StartCompletion done)
{
    if (m_isRecording || m_isStarting)
        return;
    m_isStarting = true;
    const int generation = m_generation;
    QPointer<AudioCaptureManager> self(this);
    m_runner([this, self, life = m_lifetime, generation, done = std::move(done)] {
        std::lock_guard lock(life->mutex);
        if (!life->alive)
            return;
        m_input.stop();
        const AudioInput::Format format = m_input.inputFormat();
        if (format.sampleRate <= 0) {
            m_isStarting = false;
            if (done)
                done(describe(AudioCaptureError::noInputDevice));
            return;
        }
        log("Audio", QStringLiteral("Installing tap: %1Hz, %2ch")
                         .arg(QString::number(double(format.sampleRate), 'f', 1))
                         .arg(format.channelCount));
        const std::optional<QString> error =
            m_input.start(format, framesPerBuffer, [this](const AudioBuffer& buffer) { deliver(buffer); });
        if (error) {
            m_isStarting = false;
            if (done)
                done(error);
            return;
        }
        if (generation != m_generation) {
            // Stopped while the device was opening: nothing may be delivered any more.
            m_input.stop();
            if (done)
                done(std::nullopt);
            return;
        }
        m_mainQueue.post([self, generation, done] {
            if (!self)
                return;
            if (generation == self->m_generation)
                self->m_isRecording = true;
            self->m_isStarting = false;
            if (done)
                done(std::nullopt);
        });
    });
}

void AudioCaptureManager::stopRecording()
{
    ++m_generation;
    m_input.stop();
    m_isRecording = false;
    m_isStarting = false;
    setAudioLevel(0);
}

void AudioCaptureManager::deliver(const AudioBuffer& buffer)
{
    const float value = level(buffer);
    QPointer<AudioCaptureManager> self(this);
    m_mainQueue.post([self, value] {
        if (self)
            self->setAudioLevel(value);
    });
    QMutexLocker locker(&m_handlerMutex);
    if (m_bufferHandler)
        m_bufferHandler(buffer);
}

void AudioCaptureManager::setAudioLevel(float value)
{
    m_audioLevel = value;
    if (m_levelHandler)
        m_levelHandler(value);
}

float AudioCaptureManager::level(const AudioBuffer& buffer)
{
    const qsizetype frames = buffer.frameCount();
    if (frames == 0)
        return 0;
    const int stride = buffer.channelCount;
    double sum = 0;
    const char* bytes = buffer.data.constData();
    for (qsizetype frame = 0; frame < frames; ++frame) {
        const qsizetype offset = frame * stride * buffer.bytesPerSample();
        double sample = 0;
        if (buffer.format == AudioBuffer::SampleFormat::Int16) {
            qint16 value;
            std::memcpy(&value, bytes + offset, sizeof value);
            sample = value / 32768.0;
        } else {
            float value;
            std::memcpy(&value, bytes + offset, sizeof value);
            sample = value;
        }
        sum += sample * sample;
    }
    const double scaled = std::sqrt(sum / double(frames)) * 5.0;
    if (std::isnan(scaled))
        return 1.0f;
    return float(std::clamp(scaled, 0.0, 1.0));
}

} // namespace quenda
