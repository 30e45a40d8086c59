#include "ui/editors/SnippetsEditorModel.h"

#include "text/SnippetManager.h"

namespace quenda {

SnippetsEditorModel::SnippetsEditorModel(SnippetManager& snippets, QObject* parent)
    : QObject(parent)
    , m_snippets(snippets)
{
    connect(&m_snippets, &SnippetManager::snippetsChanged, this, &SnippetsEditorModel::snippetsChanged);
}

const QList<Snippet>& SnippetsEditorModel::snippets() const
{
    return m_snippets.snippets();
}

void SnippetsEditorModel::setTrigger(const QString& text)
{
    if (text == m_trigger)
        return;
    m_trigger = text;
    Q_EMIT inputsChanged();
}

void SnippetsEditorModel::setExpansion(const QString& text)
{
    if (text == m_expansion)
        return;
    m_expansion = text;
    Q_EMIT inputsChanged();
}

void SnippetsEditorModel::add()
{
    if (!canAdd())
        return;
    m_snippets.addSnippet(m_trigger, m_expansion); // lower-cases the trigger and saves
    m_trigger.clear();
    m_expansion.clear();
    Q_EMIT inputsChanged();
}

void SnippetsEditorModel::remove(const QUuid& id)
{
    m_snippets.removeSnippet(id);
}

} // namespace quenda
