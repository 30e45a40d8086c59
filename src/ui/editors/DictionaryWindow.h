#pragma once

#include <QWidget>

class QLineEdit;
class QPushButton;
class QStackedLayout;
class QVBoxLayout;

namespace quenda {

class DictionaryEditorModel;

// "Personal Dictionary": the entries (misheard → correct, each with a delete button), or the empty state,
// and the add row. The list follows the store live.
class DictionaryWindow final : public QWidget {
    Q_OBJECT
public:
    explicit DictionaryWindow(DictionaryEditorModel& model, QWidget* parent = nullptr);

private:
    void rebuildList();
    void syncInputs();

    DictionaryEditorModel& m_model;
    QStackedLayout* m_body;
    QVBoxLayout* m_rows;
    QLineEdit* m_misheard;
    QLineEdit* m_correct;
    QPushButton* m_add;
};

} // namespace quenda
