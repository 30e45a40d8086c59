#include "text/PersonalDictionary.h"

#include "base/JsonSalvage.h"
#include "base/Log.h"
#include "base/Scheduler.h"
#include "base/UserDefaults.h"
#include "base/Uuid.h"
#include "text/Graphemes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace quenda {

namespace {

std::optional<QUuid> parseStoredId(const QJsonValue& value)
{
    return value.isString() ? parseCanonicalUuid(value.toString()) : std::nullopt;
}

// Every element that decodes is kept; `complete` says whether anything was left behind.
PersonalDictionary::DecodedEntries decodeEntries(const QByteArray& data)
{
    const json::SalvagedRecords salvaged = json::salvageRecords(data);
    PersonalDictionary::DecodedEntries decoded;
    decoded.complete = salvaged.intact;
    for (const QJsonObject& object : salvaged.records) {
        const std::optional<QUuid> id = parseStoredId(object.value(QLatin1String("id")));
        const QJsonValue misheard = object.value(QLatin1String("misheard"));
        const QJsonValue correct = object.value(QLatin1String("correct"));
        if (!id || !misheard.isString() || !correct.isString()) {
            decoded.complete = false;
            continue;
        }
        decoded.entries.append(DictionaryEntry{*id, misheard.toString(), correct.toString()});
    }
    return decoded;
}

// JSON numbers are doubles; a count is only accepted when it is a whole number an int can hold.
PersonalDictionary::DecodedCounts decodeCounts(const QByteArray& data)
{
    const json::SalvagedObject salvaged = json::salvageObject(data);
    PersonalDictionary::DecodedCounts decoded;
    decoded.complete = salvaged.intact;
    for (auto it = salvaged.members.begin(); it != salvaged.members.end(); ++it) {
        const double number = it.value().toDouble(std::numeric_limits<double>::quiet_NaN());
        if (!it.value().isDouble() || !std::isfinite(number) || number != std::trunc(number) ||
            number < double(std::numeric_limits<int>::min()) ||
            number > double(std::numeric_limits<int>::max())) {
            decoded.complete = false;
            continue;
        }
        decoded.counts.insert(it.key(), static_cast<int>(number));
    }
    return decoded;
}

QString pairKey(const QString& misheard, const QString& correct)
{
    return misheard.toLower() + QLatin1Char('|') + correct;
}

} // namespace

PersonalDictionary::PersonalDictionary(UserDefaults& defaults, Scheduler& mainQueue, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_mainQueue(mainQueue)
    , m_unreadableEntries(defaults, storageKey, "PersonalDictionary")
    , m_unreadableCounts(defaults, correctionCountsKey, "PersonalDictionary")
{
    // Counts are read when learning starts, not here, so edits from earlier runs are still picked up.
    loadEntries();
    // Another process (`quenda dictionary add`, a second window) may change the list while this one runs.
    m_defaults.onChange(storageKey, this, [this] {
        if (m_defaults.contains(storageKey) || m_entries.isEmpty()) {
            loadEntries();
            return;
        }
        m_entries.clear();
        Q_EMIT entriesChanged();
    });
}

void PersonalDictionary::addEntry(const QString& misheard, const QString& correct)
{
    if (misheard.isEmpty() || correct.isEmpty())
        return;
    m_entries.append(DictionaryEntry{QUuid::createUuid(), misheard.toLower(), correct});
    saveEntries();
    Q_EMIT entriesChanged();
}

void PersonalDictionary::removeEntry(const QUuid& id)
{
    const qsizetype removed =
        m_entries.removeIf([&](const DictionaryEntry& entry) { return entry.id == id; });
    saveEntries();
    if (removed > 0)
        Q_EMIT entriesChanged();
}

void PersonalDictionary::learnCorrections(const QString& inserted, const QString& edited)
{
    const QStringList insertedWords = graphemes::words(inserted.toLower());
    const QStringList editedWords = graphemes::words(edited);
    const QList<std::pair<QString, QString>> pairs = wordSubstitutions(insertedWords, editedWords);

    loadCorrectionCounts();
    for (const std::pair<QString, QString>& pair : pairs) {
        // Named copies, not structured bindings: lambdas below capture them (clang 14 cannot capture
        // bindings).
        const QString misheard = pair.first;
        const QString correct = pair.second;
        const QString lowered = misheard.toLower();
        const bool known =
            std::any_of(m_entries.cbegin(), m_entries.cend(), [&](const DictionaryEntry& entry) {
                return entry.misheard == lowered && entry.correct == correct;
            });
        if (known)
            continue;

        const QString key = pairKey(misheard, correct);
        const int count = m_correctionCounts.value(key, 0) + 1;
        m_correctionCounts.insert(key, count);
        if (count < autoAddThreshold)
            continue;

        // The caller may be off the main thread, and `entries` belongs to it: the addition is deferred,
        // while the count is dropped now so the pair is not handed over twice.
        QPointer<PersonalDictionary> self(this);
        m_mainQueue.post([self, misheard, correct] {
            if (!self)
                return;
            self->addEntry(misheard, correct);
            log("PersonalDictionary", QStringLiteral("Auto-learned: \"%1\" → \"%2\" (seen %3 times)")
                                          .arg(misheard, correct, QString::number(autoAddThreshold)));
        });
        m_correctionCounts.remove(key);
    }
    saveCorrectionCounts();
}

QString PersonalDictionary::promptSection() const
{
    if (m_entries.isEmpty())
        return QString();
    QStringList lines;
    lines.reserve(m_entries.size());
    for (const DictionaryEntry& entry : m_entries)
        lines.append(QStringLiteral("\"%1\" → \"%2\"").arg(entry.misheard, entry.correct));
    return QStringLiteral("\n\nPersonal dictionary — always apply these corrections:\n") +
           lines.join(QLatin1Char('\n'));
}

QList<QVariantMap> PersonalDictionary::requestDictionary() const
{
    QList<QVariantMap> list;
    list.reserve(m_entries.size());
    for (const DictionaryEntry& entry : m_entries) {
        list.append(QVariantMap{{QStringLiteral("misheard"), entry.misheard},
                                {QStringLiteral("correct"), entry.correct}});
    }
    return list;
}

QList<std::pair<QString, QString>> PersonalDictionary::wordSubstitutions(const QStringList& inserted,
                                                                         const QStringList& edited)
{
    const qsizetype n = inserted.size();
    const qsizetype m = edited.size();
    QList<std::pair<QString, QString>> pairs;
    if (n == 0 || m == 0)
        return pairs;

    // A change of case alone is not an edit: edited words are compared lower-cased.
    QStringList editedLowered;
    editedLowered.reserve(m);
    for (const QString& word : edited)
        editedLowered.append(word.toLower());
    const auto matches = [&](qsizetype i, qsizetype j) {
        return inserted.at(i - 1) == editedLowered.at(j - 1);
    };

    // Longest-common-subsequence lengths, row-major over (n + 1) x (m + 1).
    const std::size_t width = static_cast<std::size_t>(m) + 1;
    std::vector<int> table((static_cast<std::size_t>(n) + 1) * width, 0);
    const auto at = [&](qsizetype i, qsizetype j) -> int& {
        return table[static_cast<std::size_t>(i) * width + static_cast<std::size_t>(j)];
    };
    for (qsizetype i = 1; i <= n; ++i) {
        for (qsizetype j = 1; j <= m; ++j)
            at(i, j) = matches(i, j) ? at(i - 1, j - 1) + 1 : std::max(at(i - 1, j), at(i, j - 1));
    }

    qsizetype i = n;
    qsizetype j = m;
    while (i >= 1 && j >= 1) {
        if (matches(i, j)) {
            --i;
            --j;
        } else if (at(i, j - 1) < at(i - 1, j)) {
            --i; // dropped from the inserted text
        } else if (at(i - 1, j) < at(i, j - 1)) {
            --j; // added in the edit
        } else {
            // Single characters ("a" → "the") are grammar fixes, not misrecognised words.
            const QString& misheard = inserted.at(i - 1);
            const QString& correct = edited.at(j - 1);
            if (graphemes::count(misheard) >= 2 && graphemes::count(correct) >= 2)
                pairs.append({misheard, correct});
            --i;
            --j;
        }
    }
    return pairs;
}

void PersonalDictionary::loadEntries()
{
    const std::optional<QByteArray> data = m_defaults.dataValue(storageKey);
    if (!data)
        return;
    DecodedEntries decoded = decodeEntries(*data);
    if (!decoded.complete) {
        m_unreadableEntries.setUnread(*data);
        log("PersonalDictionary", QStringLiteral("The stored dictionary could not be read in full: %1 "
                                                 "entries read, the rest skipped")
                                      .arg(decoded.entries.size()));
        // What is in memory came whole from an earlier read or from the user: it stays.
        if (!m_entries.isEmpty())
            return;
    } else {
        m_unreadableEntries.setUnread(std::nullopt);
    }
    if (decoded.entries == m_entries)
        return;
    m_entries = std::move(decoded.entries);
    Q_EMIT entriesChanged();
}

void PersonalDictionary::saveEntries()
{
    if (!m_unreadableEntries.mayOverwrite())
        return;
    QJsonArray array;
    for (const DictionaryEntry& entry : m_entries) {
        QJsonObject object;
        object.insert(QLatin1String("id"), canonicalUuidString(entry.id));
        object.insert(QLatin1String("misheard"), entry.misheard);
        object.insert(QLatin1String("correct"), entry.correct);
        array.append(object);
    }
    m_defaults.setData(storageKey, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

void PersonalDictionary::loadCorrectionCounts()
{
    const std::optional<QByteArray> data = m_defaults.dataValue(correctionCountsKey);
    if (!data)
        return;
    DecodedCounts decoded = decodeCounts(*data);
    if (decoded.complete) {
        m_unreadableCounts.setUnread(std::nullopt);
        m_correctionCounts = std::move(decoded.counts);
        return;
    }
    m_unreadableCounts.setUnread(*data);
    // The counts that could be read join the ones in memory; a pair counted in both keeps the higher.
    for (auto it = decoded.counts.cbegin(); it != decoded.counts.cend(); ++it)
        m_correctionCounts.insert(it.key(), std::max(it.value(), m_correctionCounts.value(it.key(), 0)));
}

void PersonalDictionary::saveCorrectionCounts()
{
    if (!m_unreadableCounts.mayOverwrite())
        return;
    QJsonObject object;
    for (auto it = m_correctionCounts.cbegin(); it != m_correctionCounts.cend(); ++it)
        object.insert(it.key(), it.value());
    m_defaults.setData(correctionCountsKey, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

PersonalDictionary::DecodedEntries PersonalDictionary::decodeStoredEntries(const QByteArray& data)
{
    return decodeEntries(data);
}

PersonalDictionary::DecodedCounts PersonalDictionary::decodeStoredCounts(const QByteArray& data)
{
    return decodeCounts(data);
}

} // namespace quenda
