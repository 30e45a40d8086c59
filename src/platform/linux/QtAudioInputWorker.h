#pragma once

#include "platform/AudioInput.h"

#include <QAudioSource>
#include <QObject>

#include <memory>

namespace quenda {

// The part of QtAudioInput that lives on the capture thread.
class QtAudioInputWorker final : public QObject {
    Q_OBJECT
public:
    AudioInput::Format inputFormat() const;
    std::optional<QString> start(const AudioInput::Format& format, int framesPerBuffer,
                                 AudioInput::BufferCallback onBuffer);
    void stop();

private:
    void drain(bool flush);

    std::unique_ptr<QAudioSource> m_source;
    QIODevice* m_device = nullptr;
    AudioInput::Format m_format;
    qsizetype m_chunkBytes = 0;
    QByteArray m_pending;
    bool m_firstDelivered = false;
    AudioInput::BufferCallback m_onBuffer;
};

} // namespace quenda
