#pragma once

#include <QObject>

#include <csignal>
#include <memory>

class QSocketNotifier;

namespace quenda {

// Turns Ctrl+C (SIGINT) and SIGTERM into a Qt signal on the main thread, for as long as it lives; the
// previous handlers come back with its destruction. One at a time.
class InterruptWatcher final : public QObject {
    Q_OBJECT
public:
    InterruptWatcher();
    ~InterruptWatcher() override;

    bool isWatching() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void interrupted();

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    void (*m_previousInterrupt)(int) = SIG_DFL;
    void (*m_previousTerminate)(int) = SIG_DFL;
};

} // namespace quenda
