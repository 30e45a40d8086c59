#include "training/TrainingEntry.h"

namespace quenda {

namespace {
void putOptional(QJsonObject& object, const QString& key, const std::optional<QString>& value)
{
    if (value)
        object.insert(key, *value);
}

// An optional member must be a string when present; anything else makes the line undecodable.
bool takeOptional(const QJsonObject& object, const QString& key, std::optional<QString>& out)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd() || it->isNull())
        return true;
    if (!it->isString())
        return false;
    out = it->toString();
    return true;
}
} // namespace

QJsonObject TrainingEntry::toJson() const
{
    QJsonObject object{{QStringLiteral("raw"), raw},
                       {QStringLiteral("enhanced"), enhanced},
                       {QStringLiteral("timestamp"), timestamp}};
    putOptional(object, QStringLiteral("app"), app);
    putOptional(object, QStringLiteral("feedback"), feedback);
    putOptional(object, QStringLiteral("correction"), correction);
    putOptional(object, QStringLiteral("context"), context);
    return object;
}

std::optional<TrainingEntry> TrainingEntry::fromJson(const QJsonObject& object)
{
    const QJsonValue raw = object.value(QStringLiteral("raw"));
    const QJsonValue enhanced = object.value(QStringLiteral("enhanced"));
    const QJsonValue timestamp = object.value(QStringLiteral("timestamp"));
    if (!raw.isString() || !enhanced.isString() || !timestamp.isString())
        return std::nullopt;
    TrainingEntry entry;
    entry.raw = raw.toString();
    entry.enhanced = enhanced.toString();
    entry.timestamp = timestamp.toString();
    if (!takeOptional(object, QStringLiteral("app"), entry.app) ||
        !takeOptional(object, QStringLiteral("feedback"), entry.feedback) ||
        !takeOptional(object, QStringLiteral("correction"), entry.correction) ||
        !takeOptional(object, QStringLiteral("context"), entry.context))
        return std::nullopt;
    return entry;
}

} // namespace quenda
