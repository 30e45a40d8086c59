#include "base/QtScheduler.h"

#include <QThread>
#include <QTimer>

#include <cmath>

namespace quenda {

QtScheduler::QtScheduler()
    : m_context(new QObject)
{}

QtScheduler::~QtScheduler()
{
    delete m_context;
}

void QtScheduler::post(Task task)
{
    QMetaObject::invokeMethod(m_context, std::move(task), Qt::QueuedConnection);
}

TaskHandle QtScheduler::postAfter(double seconds, Task task)
{
    auto [handle, wrapped] = cancellable(std::move(task));
    const int msec = seconds <= 0 ? 0 : static_cast<int>(std::lround(seconds * 1000.0));
    // Timers belong to the thread that starts them, so a delay requested elsewhere is started on the main
    // queue.
    auto start = [context = m_context, msec, wrapped = std::move(wrapped)]() mutable {
        QTimer::singleShot(msec, Qt::PreciseTimer, context, std::move(wrapped));
    };
    if (QThread::currentThread() == m_context->thread())
        start();
    else
        post(std::move(start));
    return handle;
}

QDateTime QtScheduler::now() const
{
    return QDateTime::currentDateTimeUtc();
}

} // namespace quenda
