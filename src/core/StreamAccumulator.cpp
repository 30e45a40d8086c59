#include "core/StreamAccumulator.h"

#include <QMutexLocker>

namespace quenda {

void StreamAccumulator::append(const QString& chunk)
{
    QMutexLocker locker(&m_lock);
    m_text += chunk;
}

QString StreamAccumulator::text() const
{
    QMutexLocker locker(&m_lock);
    return m_text;
}

} // namespace quenda
