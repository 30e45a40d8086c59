#include "base/JsonSalvage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <optional>

namespace quenda::json {

namespace {

std::optional<QJsonObject> parseObject(const QByteArray& text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace

SalvagedRecords salvageRecords(const QByteArray& data)
{
    SalvagedRecords result;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error == QJsonParseError::NoError && document.isArray()) {
        result.intact = true;
        for (const QJsonValue& element : document.array()) {
            if (element.isObject())
                result.records.append(element.toObject());
            else
                result.intact = false;
        }
        return result;
    }
    // Records are flat, so every brace outside a string opens a new record: a record that lost its closing
    // brace is dropped, and the next one is still found.
    qsizetype start = -1;
    bool inString = false;
    bool escaped = false;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data.at(i);
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"' && start >= 0) {
            inString = true;
        } else if (c == '{') {
            start = i;
        } else if (c == '}' && start >= 0) {
            if (std::optional<QJsonObject> record = parseObject(data.mid(start, i - start + 1)))
                result.records.append(std::move(*record));
            start = -1;
        }
    }
    return result;
}

SalvagedObject salvageObject(const QByteArray& data)
{
    SalvagedObject result;
    if (std::optional<QJsonObject> object = parseObject(data)) {
        result.members = std::move(*object);
        result.intact = true;
        return result;
    }
    static const QRegularExpression member(
        QStringLiteral(R"re("(?:[^"\\]|\\.)*"\s*:\s*(?:"(?:[^"\\]|\\.)*"|-?[0-9][0-9.eE+\-]*))re"));
    const QString text = QString::fromUtf8(data);
    for (auto it = member.globalMatch(text); it.hasNext();) {
        const QByteArray pair = it.next().captured(0).toUtf8();
        if (std::optional<QJsonObject> one = parseObject('{' + pair + '}')) {
            for (auto m = one->constBegin(); m != one->constEnd(); ++m)
                result.members.insert(m.key(), m.value());
        }
    }
    return result;
}

} // namespace quenda::json
