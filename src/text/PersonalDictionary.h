#pragma once

#include "base/Settings.h"
#include "base/UnreadableValueKeeper.h"
#include "text/DictionaryEntry.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <optional>
#include <utility>

namespace quenda {

class Scheduler;
class UserDefaults;

// The user's word corrections. They never touch text directly: they reach the clean-up model as a prompt
// section (direct route) or as the request's dictionary list (backend route). The list also learns by
// itself from the user's edits after an insertion: a word substitution seen twice becomes an entry.
// `entries` belongs to the main thread; a learned entry is added by a job on the main queue.
class PersonalDictionary : public QObject {
    Q_OBJECT
public:
    // Loads the stored entries (not the counts), every one that decodes. A stored value that cannot be read
    // in full is copied beside the settings file before the first save replaces it.
    PersonalDictionary(UserDefaults& defaults, Scheduler& mainQueue, QObject* parent = nullptr);

    static inline const QString storageKey = settings::personalDictionary.key();
    static inline const QString correctionCountsKey = settings::personalDictionaryCorrectionCounts.key();
    static constexpr int autoAddThreshold = 2;

    const QList<DictionaryEntry>& entries() const { return m_entries; }
    const QHash<QString, int>& correctionCounts() const { return m_correctionCounts; }

    // Adds nothing when either word is empty; `misheard` is lower-cased, duplicates are allowed.
    void addEntry(const QString& misheard, const QString& correct);
    void removeEntry(const QUuid& id);

    // Counts the word substitutions between the inserted text and the user's edit of it; a pair seen
    // `autoAddThreshold` times is added (on the main queue) and its count dropped.
    void learnCorrections(const QString& inserted, const QString& edited);

    // "\n\nPersonal dictionary — always apply these corrections:\n" and one line per entry, or "".
    QString promptSection() const;
    // One {"misheard","correct"} map per entry, in list order, for the backend's enhance requests.
    QList<QVariantMap> requestDictionary() const;

    // Substitutions by longest common subsequence of the two word lists; `inserted` is already
    // lower-cased. Pairs come from the end of the text towards the start.
    static QList<std::pair<QString, QString>> wordSubstitutions(const QStringList& inserted,
                                                                const QStringList& edited);

    // The stored blobs as loadEntries and loadCorrectionCounts read them: every element that decodes, and
    // whether nothing was left behind.
    struct DecodedEntries {
        QList<DictionaryEntry> entries;
        bool complete = false;
    };
    struct DecodedCounts {
        QHash<QString, int> counts;
        bool complete = false;
    };
    static DecodedEntries decodeStoredEntries(const QByteArray& data);
    static DecodedCounts decodeStoredCounts(const QByteArray& data);

    void loadEntries();
    void saveEntries();
    void loadCorrectionCounts();
    void saveCorrectionCounts();

Q_SIGNALS:
    void entriesChanged();

private:
    UserDefaults& m_defaults;
    Scheduler& m_mainQueue;
    UnreadableValueKeeper m_unreadableEntries;
    UnreadableValueKeeper m_unreadableCounts;
    QList<DictionaryEntry> m_entries;
    QHash<QString, int> m_correctionCounts;
};

} // namespace quenda
