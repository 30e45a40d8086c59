#include "base/VirtualScheduler.h"

#include <QMutexLocker>
#include <QTimeZone>

#include <cmath>

namespace quenda {

VirtualScheduler::VirtualScheduler(QDateTime start)
    : m_nowMsec(start.toMSecsSinceEpoch())
{}

QDateTime VirtualScheduler::defaultStart()
{
    return QDateTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC);
}

void VirtualScheduler::post(Task task)
{
    postAfter(0, std::move(task));
}

TaskHandle VirtualScheduler::postAfter(double seconds, Task task)
{
    auto [handle, wrapped] = cancellable(std::move(task));
    const qint64 delay = seconds <= 0 ? 0 : std::llround(seconds * 1000.0);
    QMutexLocker locker(&m_mutex);
    m_tasks.emplace(Key{m_nowMsec + delay, m_sequence++}, std::move(wrapped));
    return handle;
}

QDateTime VirtualScheduler::now() const
{
    QMutexLocker locker(&m_mutex);
    return QDateTime::fromMSecsSinceEpoch(m_nowMsec, Qt::UTC);
}

void VirtualScheduler::advance(double seconds)
{
    qint64 target = 0;
    {
        QMutexLocker locker(&m_mutex);
        target = m_nowMsec + (seconds <= 0 ? 0 : std::llround(seconds * 1000.0));
    }
    for (;;) {
        Task task;
        {
            QMutexLocker locker(&m_mutex);
            auto first = m_tasks.begin();
            if (first == m_tasks.end() || first->first.dueMsec > target)
                break;
            m_nowMsec = std::max(m_nowMsec, first->first.dueMsec);
            task = std::move(first->second);
            m_tasks.erase(first);
        }
        task(); // without the lock: tasks post further tasks
    }
    QMutexLocker locker(&m_mutex);
    m_nowMsec = std::max(m_nowMsec, target);
}

int VirtualScheduler::pendingCount() const
{
    QMutexLocker locker(&m_mutex);
    return static_cast<int>(m_tasks.size());
}

} // namespace quenda
