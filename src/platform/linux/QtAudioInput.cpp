#include "platform/linux/QtAudioInput.h"

#include "platform/linux/QtAudioInputWorker.h"

#include <QMetaObject>

namespace quenda {

QtAudioInput::QtAudioInput()
    : m_worker(new QtAudioInputWorker)
{
    m_thread.setObjectName(QStringLiteral("audio capture"));
    m_worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start(QThread::TimeCriticalPriority);
}

QtAudioInput::~QtAudioInput()
{
    stop();
    m_thread.quit();
    m_thread.wait();
}

AudioInput::Format QtAudioInput::inputFormat()
{
    Format format;
    QMetaObject::invokeMethod(
        m_worker, [&] { format = m_worker->inputFormat(); }, Qt::BlockingQueuedConnection);
    return format;
}

std::optional<QString> QtAudioInput::start(const Format& format, int framesPerBuffer, BufferCallback onBuffer)
{
    std::optional<QString> error;
    QMetaObject::invokeMethod(
        m_worker, [&] { error = m_worker->start(format, framesPerBuffer, std::move(onBuffer)); },
        Qt::BlockingQueuedConnection);
    return error;
}

void QtAudioInput::stop()
{
    if (QThread::currentThread() == &m_thread) {
        m_worker->stop();
        return;
    }
    QMetaObject::invokeMethod(
        m_worker, [this] { m_worker->stop(); }, Qt::BlockingQueuedConnection);
}

} // namespace quenda
