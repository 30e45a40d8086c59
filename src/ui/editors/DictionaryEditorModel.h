#pragma once

#include "text/DictionaryEntry.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

namespace quenda {

class PersonalDictionary;

// The personal dictionary editor: the store's live list (an entry learned in the background shows at
// once), the two inputs of the add row, and removal by id. Nothing is trimmed; Add is possible while both
// inputs hold any character.
class DictionaryEditorModel : public QObject {
    Q_OBJECT
public:
    explicit DictionaryEditorModel(PersonalDictionary& dictionary, QObject* parent = nullptr);

    const QList<DictionaryEntry>& entries() const;
    const QString& misheard() const { return m_misheard; }
    const QString& correct() const { return m_correct; }
    void setMisheard(const QString& text);
    void setCorrect(const QString& text);
    bool canAdd() const { return !m_misheard.isEmpty() && !m_correct.isEmpty(); }
    void add();
    void remove(const QUuid& id);

Q_SIGNALS:
    void entriesChanged();
    void inputsChanged();

private:
    PersonalDictionary& m_dictionary;
    QString m_misheard;
    QString m_correct;
};

} // namespace quenda
