#pragma once

#include "base/Scheduler.h"

#include <QObject>

namespace quenda {

// The main queue on the Qt event loop of the thread that creates the scheduler.
class QtScheduler final : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;

    void post(Task task) override;
    TaskHandle postAfter(double seconds, Task task) override;
    QDateTime now() const override;

private:
    QObject* m_context; // lives on the main thread; tasks run in its thread
};

} // namespace quenda
