#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quenda {

// A private serial queue: tasks run one after another, in posting order, on one worker thread. Destroying
// the queue runs what is already queued, then stops the worker; it must not be destroyed by one of its tasks.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return m_label; }

    // Safe from any thread, the worker included.
    void post(std::function<void()> task);
    // Runs the task on the worker and waits for it and for everything queued before it. Not from the worker.
    void sync(const std::function<void()>& task = [] {});
    bool isCurrent() const { return std::this_thread::get_id() == m_worker.get_id(); }

private:
    void run();

    std::string m_label;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace quenda
