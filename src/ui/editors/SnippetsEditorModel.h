#pragma once

#include "text/Snippet.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

namespace quenda {

class SnippetManager;

// The snippets editor: the store's live list, the trigger and expansion of the add form, and removal by id.
// Nothing is trimmed; Add is possible while both inputs hold any character.
class SnippetsEditorModel : public QObject {
    Q_OBJECT
public:
    explicit SnippetsEditorModel(SnippetManager& snippets, QObject* parent = nullptr);

    const QList<Snippet>& snippets() const;
    const QString& trigger() const { return m_trigger; }
    const QString& expansion() const { return m_expansion; }
    void setTrigger(const QString& text);
    void setExpansion(const QString& text);
    bool canAdd() const { return !m_trigger.isEmpty() && !m_expansion.isEmpty(); }
    void add();
    void remove(const QUuid& id);

Q_SIGNALS:
    void snippetsChanged();
    void inputsChanged();

private:
    SnippetManager& m_snippets;
    QString m_trigger;
    QString m_expansion;
};

} // namespace quenda
