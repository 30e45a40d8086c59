#pragma once

#include <QDateTime>

#include <atomic>
#include <functional>
#include <memory>

namespace quenda {

// A handle on a delayed task; cancelling it keeps the task from running. Copies share the same task.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<std::atomic_bool> cancelled)
        : m_cancelled(std::move(cancelled))
    {}
    void cancel() const
    {
        if (m_cancelled)
            m_cancelled->store(true);
    }
    bool isValid() const { return m_cancelled != nullptr; }
    bool isCancelled() const { return m_cancelled && m_cancelled->load(); }

private:
    std::shared_ptr<std::atomic_bool> m_cancelled;
};

// The main queue. Everything that writes observable state runs here; other threads post to it.
// The application runs it on the Qt event loop; tests run it on a virtual clock.
class Scheduler {
public:
    using Task = std::function<void()>;

    virtual ~Scheduler() = default;

    // Runs the task on the main queue after the tasks already queued. Safe to call from any thread.
    virtual void post(Task task) = 0;
    // Runs the task on the main queue once the delay has passed. Safe to call from any thread.
    virtual TaskHandle postAfter(double seconds, Task task) = 0;
    // The current time, in UTC.
    virtual QDateTime now() const = 0;

protected:
    // Wraps a task so that a cancelled handle turns it into a no-op.
    static std::pair<TaskHandle, Task> cancellable(Task task)
    {
        auto flag = std::make_shared<std::atomic_bool>(false);
        return {TaskHandle(flag), [flag, task = std::move(task)] {
                    if (!flag->load())
                        task();
                }};
    }
};

// The distant past: a time before any real event, so "now minus it" is always long enough.
QDateTime distantPast();

// Seconds from a to b (negative when b is earlier).
double secondsBetween(const QDateTime& a, const QDateTime& b);

// The platform's default ISO 8601 form: UTC to whole seconds, "2026-12-06T11:44:48Z".
QString iso8601(const QDateTime& time);

} // namespace quenda
