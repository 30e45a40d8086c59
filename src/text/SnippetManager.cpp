#include "text/SnippetManager.h"

#include "base/JsonSalvage.h"
#include "base/Log.h"
#include "base/UserDefaults.h"
#include "base/Uuid.h"
#include "text/Graphemes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

namespace quenda {

namespace {

std::optional<QUuid> parseStoredId(const QJsonValue& value)
{
    return value.isString() ? parseCanonicalUuid(value.toString()) : std::nullopt;
}

// Every element that decodes is kept; `complete` says whether anything was left behind.
SnippetManager::Decoded decodeSnippets(const QByteArray& data)
{
    const json::SalvagedRecords salvaged = json::salvageRecords(data);
    SnippetManager::Decoded decoded;
    decoded.complete = salvaged.intact;
    for (const QJsonObject& object : salvaged.records) {
        const std::optional<QUuid> id = parseStoredId(object.value(QLatin1String("id")));
        const QJsonValue trigger = object.value(QLatin1String("trigger"));
        const QJsonValue expansion = object.value(QLatin1String("expansion"));
        if (!id || !trigger.isString() || !expansion.isString()) {
            decoded.complete = false;
            continue;
        }
        decoded.snippets.append(Snippet{*id, trigger.toString(), expansion.toString()});
    }
    return decoded;
}

QByteArray encodeSnippets(const QList<Snippet>& snippets)
{
    QJsonArray array;
    for (const Snippet& snippet : snippets) {
        QJsonObject object;
        object.insert(QLatin1String("id"), canonicalUuidString(snippet.id));
        object.insert(QLatin1String("trigger"), snippet.trigger);
        object.insert(QLatin1String("expansion"), snippet.expansion);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

} // namespace

SnippetManager::SnippetManager(UserDefaults& defaults, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_unreadable(defaults, storageKey, "Snippets")
{
    loadSnippets();
    // Another process (`quenda snippets add`, a second window) may change the list while this one runs.
    m_defaults.onChange(storageKey, this, [this] {
        if (m_defaults.contains(storageKey) || m_snippets.isEmpty()) {
            loadSnippets();
            return;
        }
        m_snippets.clear();
        Q_EMIT snippetsChanged();
    });
}

void SnippetManager::addSnippet(const QString& trigger, const QString& expansion)
{
    if (trigger.isEmpty() || expansion.isEmpty())
        return;
    m_snippets.append(Snippet{QUuid::createUuid(), trigger.toLower(), expansion});
    saveSnippets();
    Q_EMIT snippetsChanged();
}

void SnippetManager::removeSnippet(const QUuid& id)
{
    const qsizetype removed = m_snippets.removeIf([&](const Snippet& snippet) { return snippet.id == id; });
    saveSnippets();
    if (removed > 0)
        Q_EMIT snippetsChanged();
}

std::pair<QString, bool> SnippetManager::expandSnippets(const QString& text) const
{
    if (m_snippets.isEmpty())
        return {text, false};

    // The presence test runs on the original text, so a trigger that only an earlier expansion brought in
    // is never expanded.
    const QString lowered = text.toLower();
    QString result = text;
    bool wasExpanded = false;
    for (const Snippet& snippet : m_snippets) {
        if (graphemes::indexOf(lowered, snippet.trigger) == -1)
            continue;
        const qsizetype at = graphemes::indexOf(result, snippet.trigger, 0, Qt::CaseInsensitive);
        if (at == -1)
            continue; // an earlier expansion replaced this occurrence
        result.replace(at, snippet.trigger.size(), snippet.expansion);
        wasExpanded = true;
        log("Snippets", QStringLiteral("Expanded \"%1\" → \"%2\"")
                            .arg(snippet.trigger, graphemes::clip(snippet.expansion, 40)));
    }
    return {result, wasExpanded};
}

void SnippetManager::loadSnippets()
{
    const std::optional<QByteArray> data = m_defaults.dataValue(storageKey);
    if (!data)
        return;
    Decoded decoded = decodeSnippets(*data);
    if (!decoded.complete) {
        m_unreadable.setUnread(*data);
        log("Snippets", QStringLiteral("The stored snippets could not be read in full: %1 read, the rest "
                                       "skipped")
                            .arg(decoded.snippets.size()));
        // What is in memory came whole from an earlier read or from the user: it stays.
        if (!m_snippets.isEmpty())
            return;
    } else {
        m_unreadable.setUnread(std::nullopt);
    }
    if (decoded.snippets == m_snippets)
        return;
    m_snippets = std::move(decoded.snippets);
    Q_EMIT snippetsChanged();
}

void SnippetManager::saveSnippets()
{
    if (m_unreadable.mayOverwrite())
        m_defaults.setData(storageKey, encodeSnippets(m_snippets));
}

SnippetManager::Decoded SnippetManager::decodeStoredSnippets(const QByteArray& data)
{
    return decodeSnippets(data);
}

} // namespace quenda
