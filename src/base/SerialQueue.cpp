#include "base/SerialQueue.h"

#include <future>

namespace quenda {

SerialQueue::SerialQueue(std::string label)
    : m_label(std::move(label))
    , m_worker([this] { run(); })
{}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_worker.join(); // owners never destroy their queue from one of its own tasks
}

void SerialQueue::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void SerialQueue::sync(const std::function<void()>& task)
{
    std::promise<void> finished;
    post([&] {
        task();
        finished.set_value();
    });
    finished.get_future().wait();
}

void SerialQueue::run()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
                return; // stopping, and everything queued has run
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

} // namespace quenda
