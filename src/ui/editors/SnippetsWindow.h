#pragma once

#include <QWidget>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedLayout;
class QVBoxLayout;

namespace quenda {

class SnippetsEditorModel;

// "Snippets": each trigger (monospaced) over its expansion (at most two lines) with a delete button, or the
// empty state, and the add form: the trigger, the expansion, "Add Snippet".
class SnippetsWindow final : public QWidget {
    Q_OBJECT
public:
    explicit SnippetsWindow(SnippetsEditorModel& model, QWidget* parent = nullptr);

private:
    void rebuildList();
    void syncInputs();

    SnippetsEditorModel& m_model;
    QStackedLayout* m_body;
    QVBoxLayout* m_rows;
    QLineEdit* m_trigger;
    QPlainTextEdit* m_expansion;
    QPushButton* m_add;
};

} // namespace quenda
