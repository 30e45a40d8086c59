#pragma once

#include <QMutex>
#include <QString>

namespace quenda {

// Collects the cleaned-up text as it streams in. Chunks arrive on network threads while the main thread
// reads the whole text, so every access takes the lock (and nothing is called while holding it).
class StreamAccumulator {
public:
    void append(const QString& chunk);
    QString text() const;

private:
    mutable QMutex m_lock;
    QString m_text;
};

} // namespace quenda
