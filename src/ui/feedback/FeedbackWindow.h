#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace quenda {

class FeedbackModel;

// "Feedback" (Flag Correction): what was heard, what was inserted, the editor for what it should have
// been and an optional note, Cancel and Submit. Shows a short line when nothing is flagged; closing the
// window cancels the flag.
class FeedbackWindow final : public QWidget {
    Q_OBJECT
public:
    explicit FeedbackWindow(FeedbackModel& model, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void sync();
    void finish(bool submitted);

    FeedbackModel& m_model;
    QWidget* m_form;
    QLabel* m_empty;
    QLabel* m_rawHeading;
    QLabel* m_raw;
    QLabel* m_inserted;
    QPlainTextEdit* m_correction;
    QPlainTextEdit* m_note;
    bool m_finishing = false;
};

} // namespace quenda
