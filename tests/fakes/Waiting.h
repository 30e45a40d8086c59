#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>

namespace quenda::fakes {

// Waits for something another thread does, processing this thread's events meanwhile. Never asserts on speed:
// the limits are generous and only catch a hang.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMsec = 10000,
                      const std::function<void()>& pump = {})
{
    QDeadlineTimer deadline(timeoutMsec);
    for (;;) {
        if (pump)
            pump();
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

// A value delivered by a callback on any thread, collected for the test.
template <typename T>
class Captured {
public:
    std::function<void(T)> setter() const
    {
        return [state = m_state](T value) {
            QMutexLocker locker(&state->mutex);
            state->value.emplace(std::move(value));
        };
    }
    bool wait(int timeoutMsec = 10000) const // 0: whether it has arrived, without waiting
    {
        const auto arrived = [this] {
            QMutexLocker locker(&m_state->mutex);
            return m_state->value.has_value();
        };
        return waitUntil(arrived, timeoutMsec);
    }
    T value() const
    {
        QMutexLocker locker(&m_state->mutex);
        return *m_state->value;
    }

private:
    struct State {
        QMutex mutex;
        std::optional<T> value;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// Pieces handed to a token callback on any thread, in order.
class CapturedPieces {
public:
    std::function<void(const QString&)> handler() const
    {
        return [state = m_state](const QString& piece) {
            QMutexLocker locker(&state->mutex);
            state->pieces.append(piece);
        };
    }
    QStringList pieces() const
    {
        QMutexLocker locker(&m_state->mutex);
        return m_state->pieces;
    }

private:
    struct State {
        QMutex mutex;
        QStringList pieces;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace quenda::fakes
