#pragma once

#include "base/Scheduler.h"

#include <QMutex>

#include <cstdint>
#include <map>

namespace quenda {

// A main queue on a virtual clock: nothing runs until the owner advances time, and then tasks run in the
// order of their due time (posting order among equals). Other threads may post; tasks run on the thread
// that calls advance().
class VirtualScheduler final : public Scheduler {
public:
    explicit VirtualScheduler(QDateTime start = defaultStart());

    void post(Task task) override;
    TaskHandle postAfter(double seconds, Task task) override;
    QDateTime now() const override;

    // Moves the clock forward by the given seconds, running every task that falls due on the way.
    void advance(double seconds);
    // Runs everything that is due now, including tasks those tasks post for now.
    void runUntilIdle() { advance(0); }
    // Tasks still waiting (cancelled ones included until their time comes).
    int pendingCount() const;

    static QDateTime defaultStart();

private:
    struct Key {
        qint64 dueMsec;
        std::uint64_t sequence;
        bool operator<(const Key& other) const
        {
            return dueMsec != other.dueMsec ? dueMsec < other.dueMsec : sequence < other.sequence;
        }
    };

    mutable QMutex m_mutex;
    qint64 m_nowMsec;
    std::uint64_t m_sequence = 0;
    std::map<Key, Task> m_tasks;
};

} // namespace quenda
