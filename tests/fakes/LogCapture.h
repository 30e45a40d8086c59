#pragma once

#include "base/Log.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

namespace quenda::fakes {

// Collects the log lines written while it lives (from any thread), instead of printing them.
class LogCapture {
public:
    LogCapture()
    {
        m_previous = Log::setSink([this](const QString& line) {
            QMutexLocker locker(&m_mutex);
            m_lines.append(line);
        });
    }
    ~LogCapture() { Log::setSink(std::move(m_previous)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const
    {
        QMutexLocker locker(&m_mutex);
        return m_lines;
    }
    QStringList linesWith(const QString& prefix) const
    {
        QStringList matching;
        for (const QString& line : lines())
            if (line.startsWith(prefix))
                matching << line;
        return matching;
    }
    void clear()
    {
        QMutexLocker locker(&m_mutex);
        m_lines.clear();
    }

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
    Log::Sink m_previous;
};

} // namespace quenda::fakes
