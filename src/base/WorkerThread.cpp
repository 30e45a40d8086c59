#include "base/WorkerThread.h"

#include <QMutexLocker>
#include <QObject>
#include <QThread>

#include <future>

namespace quenda {

WorkerThread::WorkerThread(const QString& name)
    : m_thread(new QThread)
    , m_context(new QObject)
{
    m_thread->setObjectName(name);
    m_context->moveToThread(m_thread);
    m_thread->start();
}

WorkerThread::~WorkerThread()
{
    stop();
    delete m_thread;
}

bool WorkerThread::post(std::function<void()> task)
{
    QMutexLocker locker(&m_mutex);
    if (m_stopped)
        return false;
    QMetaObject::invokeMethod(m_context, std::move(task), Qt::QueuedConnection);
    return true;
}

void WorkerThread::sync(const std::function<void()>& task)
{
    if (isCurrent()) {
        if (task)
            task();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    const bool queued = post([task, done] {
        if (task)
            task();
        done->set_value();
    });
    if (!queued) {
        if (task)
            task(); // the thread has ended: nothing else can run the task any more
        return;
    }
    finished.wait();
}

bool WorkerThread::isCurrent() const
{
    return QThread::currentThread() == m_thread;
}

void WorkerThread::stop()
{
    {
        QMutexLocker locker(&m_mutex);
        if (m_stopped)
            return;
        m_stopped = true;
        // After every task queued so far: the context goes and the loop ends.
        QObject* context = m_context;
        QThread* thread = m_thread;
        QMetaObject::invokeMethod(
            m_context,
            [context, thread] {
                delete context;
                thread->quit();
            },
            Qt::QueuedConnection);
    }
    m_thread->wait();
    m_context = nullptr;
}

} // namespace quenda
