#include "text/SnippetManager.h"

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

// The whole list or nothing: one bad element means the stored value is not a list of snippets.
std::optional<QList<Snippet>> decodeSnippets(const QByteArray& data)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<Snippet> snippets;
    for (const QJsonValue& element : document.array()) {
        if (!element.isObject())
            return std::nullopt;
        const QJsonObject object = element.toObject();
        const std::optional<QUuid> id = parseStoredId(object.value(QLatin1String("id")));
        const QJsonValue trigger = object.value(QLatin1String("trigger"));
        const QJsonValue expansion = object.value(QLatin1String("expansion"));
        if (!id || !trigger.isString() || !expansion.isString())
            return std::nullopt;
        snippets.append(Snippet{*id, trigger.toString(), expansion.toString()});
    }
    return snippets;
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
    std::optional<QList<Snippet>> decoded = decodeSnippets(*data);
    if (!decoded || *decoded == m_snippets)
        return;
    m_snippets = std::move(*decoded);
    Q_EMIT snippetsChanged();
}

void SnippetManager::saveSnippets()
{
    m_defaults.setData(storageKey, encodeSnippets(m_snippets));
}

std::optional<QList<Snippet>> SnippetManager::decodeStoredSnippets(const QByteArray& data)
{
    return decodeSnippets(data);
}

} // namespace quenda
