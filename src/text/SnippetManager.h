#pragma once

#include "base/Settings.h"
#include "base/UnreadableValueKeeper.h"
#include "text/Snippet.h"

#include <QList>
#include <QObject>

#include <optional>
#include <utility>

namespace quenda {

class UserDefaults;

// The user's snippets, in the order expansion tries them, kept under "snippets" in the user defaults as a
// JSON array of {"id","trigger","expansion"}. Main thread only.
class SnippetManager : public QObject {
    Q_OBJECT
public:
    // Loads the stored list, every snippet that decodes. A stored list that cannot be read in full is copied
    // beside the settings file before the first save replaces it.
    explicit SnippetManager(UserDefaults& defaults, QObject* parent = nullptr);

    static inline const QString storageKey = settings::snippets.key();

    const QList<Snippet>& snippets() const { return m_snippets; }

    // Adds nothing when either text is empty; nothing is trimmed and duplicates are allowed.
    void addSnippet(const QString& trigger, const QString& expansion);
    void removeSnippet(const QUuid& id);

    // Replaces the first occurrence of each snippet's trigger (case-insensitive, inside words too), in list
    // order. Returns the text and whether anything was replaced.
    std::pair<QString, bool> expandSnippets(const QString& text) const;

    struct Decoded {
        QList<Snippet> snippets; // every element that decodes, in stored order
        bool complete = false;   // nothing was left behind
    };
    // The stored blob as loadSnippets reads it.
    static Decoded decodeStoredSnippets(const QByteArray& data);

    void loadSnippets();
    void saveSnippets();

Q_SIGNALS:
    void snippetsChanged();

private:
    UserDefaults& m_defaults;
    UnreadableValueKeeper m_unreadable;
    QList<Snippet> m_snippets;
};

} // namespace quenda
