#include "base/Settings.h"

#include <QJsonDocument>

#include <array>

namespace quenda::settings {

namespace {
constexpr std::array registry = {
    hotkeyKeyCode,
    hotkeyModifiers,
    personalDictionary,
    personalDictionaryCorrectionCounts,
    snippets,
    groqApiKey,
    backendHost,
    chatCompletionsURL,
    chatModel,
    speechEngine,
    transcriptionURL,
    transcriptionModel,
    whisperModelPath,
    whisperModelURL,
    automationGranted,
    accessibilityPrompted,
    inputMonitoringPrompted,
    hasCompletedOnboarding,
    entitlementsMigration,
    permissionsWereReset,
    userName,
    userEmail,
    devMode,
    automaticUpdateChecks,
    updateFeedURL,
    lastUpdateCheckTime,
};

std::optional<bool> parseBool(const QString& text)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("true") || word == QLatin1String("yes") || word == QLatin1String("1"))
        return true;
    if (word == QLatin1String("false") || word == QLatin1String("no") || word == QLatin1String("0"))
        return false;
    return std::nullopt;
}
} // namespace

std::span<const SettingKey> all()
{
    return registry;
}

const SettingKey* find(const QString& name)
{
    for (const SettingKey& key : registry) {
        if (name == QLatin1String(key.name))
            return &key;
    }
    return nullptr;
}

QString typeName(SettingType type)
{
    switch (type) {
    case SettingType::boolean:
        return QStringLiteral("bool");
    case SettingType::integer:
        return QStringLiteral("int");
    case SettingType::number:
        return QStringLiteral("float");
    case SettingType::text:
        return QStringLiteral("string");
    case SettingType::data:
        return QStringLiteral("data");
    }
    return {};
}

QStringList choices(const SettingKey& key)
{
    return key.choices ? QString::fromLatin1(key.choices).split(QLatin1Char('|')) : QStringList();
}

std::optional<QVariant> parse(const SettingKey& key, const QString& text, QString* problem)
{
    auto fail = [&](const QString& why) -> std::optional<QVariant> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    const QString name = key.key();
    switch (key.type) {
    case SettingType::boolean:
        if (const std::optional<bool> value = parseBool(text))
            return QVariant(*value);
        return fail(QStringLiteral("%1 takes true or false").arg(name));
    case SettingType::integer: {
        bool ok = false;
        const qint64 value = text.trimmed().toLongLong(&ok);
        if (ok)
            return QVariant(value);
        return fail(QStringLiteral("%1 takes a whole number").arg(name));
    }
    case SettingType::number: {
        bool ok = false;
        const double value = text.trimmed().toDouble(&ok);
        if (ok)
            return QVariant(value);
        return fail(QStringLiteral("%1 takes a number").arg(name));
    }
    case SettingType::text: {
        const QStringList allowed = choices(key);
        if (!allowed.isEmpty() && !allowed.contains(text))
            return fail(QStringLiteral("%1 takes one of: %2").arg(name, allowed.join(QStringLiteral(", "))));
        return QVariant(text);
    }
    case SettingType::data: {
        QJsonParseError error{};
        QJsonDocument::fromJson(text.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError)
            return fail(QStringLiteral("%1 takes JSON: %2").arg(name, error.errorString()));
        return QVariant(text.toUtf8());
    }
    }
    return fail(QStringLiteral("%1 cannot be set").arg(name));
}

} // namespace quenda::settings
