#include "app/InterruptWatcher.h"

#include <QSocketNotifier>

#include <unistd.h>

namespace quenda {

namespace {
// A signal handler may only write to a pipe; the notifier reads it on the main thread.
int g_pipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_pipe[1], &byte, 1);
}
} // namespace

InterruptWatcher::InterruptWatcher()
{
    if (g_pipe[0] != -1 || ::pipe(g_pipe) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        [[maybe_unused]] const auto got = ::read(g_pipe[0], buffer, sizeof buffer);
        Q_EMIT interrupted();
    });
    m_previousInterrupt = std::signal(SIGINT, onSignal);
    m_previousTerminate = std::signal(SIGTERM, onSignal);
}

InterruptWatcher::~InterruptWatcher()
{
    if (!m_notifier)
        return;
    std::signal(SIGINT, m_previousInterrupt);
    std::signal(SIGTERM, m_previousTerminate);
    m_notifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

} // namespace quenda
