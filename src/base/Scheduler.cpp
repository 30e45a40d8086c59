#include "base/Scheduler.h"

#include <QTimeZone>

namespace quenda {

QDateTime distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

double secondsBetween(const QDateTime& a, const QDateTime& b)
{
    return static_cast<double>(a.msecsTo(b)) / 1000.0;
}

QString iso8601(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

} // namespace quenda
