#include "ui/stats/StatsModel.h"

#include "base/Scheduler.h"
#include "net/QuendaAPIClient.h"

#include <climits>
#include <cmath>

namespace quenda {

namespace {
// A JSON number that is a whole number in int's range; anything else counts as absent.
int integerMember(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (number != std::trunc(number) || number < INT_MIN || number > INT_MAX)
        return 0;
    return int(number);
}
} // namespace

StatsModel::StatsModel(QuendaAPIClient& backend, Scheduler& mainQueue, QObject* parent)
    : QObject(parent)
    , m_backend(backend)
    , m_mainQueue(mainQueue)
{}

void StatsModel::load()
{
    const quint64 generation = ++m_generation;
    m_totalWords = m_wordsThisWeek = m_streak = m_dictationsToday = 0;
    m_isLoading = true;
    m_error.reset();
    Q_EMIT changed();
    auto arrived = m_lifetime.guard([this, generation](std::optional<QJsonObject> usage) {
        if (generation != m_generation)
            return;
        if (usage)
            apply(*usage);
        else
            m_error = tr("Could not load stats");
        m_isLoading = false;
        Q_EMIT changed();
    });
    Scheduler* queue = &m_mainQueue;
    m_backend.fetchUsage([queue, arrived](Result<QJsonObject> result) {
        std::optional<QJsonObject> usage;
        if (result.ok())
            usage = result.value();
        queue->post([arrived, usage]() mutable { arrived(usage); });
    });
}

void StatsModel::apply(const QJsonObject& usage)
{
    m_totalWords = integerMember(usage, "total_words");
    m_wordsThisWeek = integerMember(usage, "words_this_week");
    m_streak = integerMember(usage, "streak");
    m_dictationsToday = integerMember(usage, "dictations_today");
}

QString StatsModel::timeSaved(int totalWords)
{
    const double minutes = totalWords / 40.0 - totalWords / 150.0;
    if (minutes < 1)
        return QStringLiteral("< 1");
    const long long whole = static_cast<long long>(minutes);
    if (whole < 60)
        return QString::number(whole);
    const long long hours = whole / 60;
    const long long rest = whole - 60 * hours;
    return rest != 0 ? QStringLiteral("%1h %2m").arg(hours).arg(rest) : QStringLiteral("%1h").arg(hours);
}

QString StatsModel::words(int count)
{
    if (count > 999)
        return QString::number(count / 1000.0, 'f', 1) + QLatin1Char('k');
    return QString::number(count);
}

QString StatsModel::streakText(int days)
{
    return days < 1 ? QStringLiteral("\u2014") : QString::number(days);
}

} // namespace quenda
