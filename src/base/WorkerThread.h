#pragma once

#include <QMutex>
#include <QString>

#include <functional>

class QObject;
class QThread;

namespace quenda {

// The one way to work off the main thread: a named thread with its own event loop that runs tasks one after
// another, in posting order. Work that blocks (a child process, a device, a keyring that may hang) and
// objects that need an event loop of their own (network replies, keyring jobs) live on one; the results go
// back to the main queue. Stopping a worker (or destroying it) runs what is already queued, then ends the
// thread; later tasks are refused. A worker is never stopped or destroyed by one of its own tasks.
class WorkerThread {
public:
    explicit WorkerThread(const QString& name);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs the task on the worker after the tasks already queued. Safe from any thread. False, and the task
    // dropped, once the worker has stopped.
    bool post(std::function<void()> task);
    // Runs the task on the worker and waits for it and for everything queued before it; runs it at once when
    // called on the worker itself or after it has stopped. Holds no lock while waiting.
    void sync(const std::function<void()>& task = {});
    bool isCurrent() const;
    // Lives on the worker: the parent or context of objects that must belong to its thread.
    QObject* context() const { return m_context; }
    void stop();

private:
    mutable QMutex m_mutex;
    bool m_stopped = false;
    QThread* m_thread;
    QObject* m_context;
};

} // namespace quenda
