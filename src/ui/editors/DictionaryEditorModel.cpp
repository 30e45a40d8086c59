#include "ui/editors/DictionaryEditorModel.h"

#include "text/PersonalDictionary.h"

namespace quenda {

DictionaryEditorModel::DictionaryEditorModel(PersonalDictionary& dictionary, QObject* parent)
    : QObject(parent)
    , m_dictionary(dictionary)
{
    connect(&m_dictionary, &PersonalDictionary::entriesChanged, this, &DictionaryEditorModel::entriesChanged);
}

const QList<DictionaryEntry>& DictionaryEditorModel::entries() const
{
    return m_dictionary.entries();
}

void DictionaryEditorModel::setMisheard(const QString& text)
{
    if (text == m_misheard)
        return;
    m_misheard = text;
    Q_EMIT inputsChanged();
}

void DictionaryEditorModel::setCorrect(const QString& text)
{
    if (text == m_correct)
        return;
    m_correct = text;
    Q_EMIT inputsChanged();
}

void DictionaryEditorModel::add()
{
    if (!canAdd())
        return;
    m_dictionary.addEntry(m_misheard, m_correct); // lower-cases the misheard word and saves
    m_misheard.clear();
    m_correct.clear();
    Q_EMIT inputsChanged();
}

void DictionaryEditorModel::remove(const QUuid& id)
{
    m_dictionary.removeEntry(id);
}

} // namespace quenda
