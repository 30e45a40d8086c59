#pragma once

#include "base/DictationResult.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPlainTextEdit;

namespace quenda {

// "Feedback": the user says what a cleaned-up dictation should have been. The editor starts with the
// inserted text; an emptied editor or note is passed on as absent. Shows nothing when nothing is flagged.
class FeedbackWindow final : public QWidget {
    Q_OBJECT
public:
    using Submit = std::function<void(std::optional<QString> correction, std::optional<QString> note)>;

    FeedbackWindow(Submit onSubmit, std::function<void()> onDismiss, QWidget* parent = nullptr);

    // The dictation to show; the window is refilled each time it is set.
    void setDictation(const std::optional<DictationResult>& dictation);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void finish(bool submitted);

    Submit m_onSubmit;
    std::function<void()> m_onDismiss;
    QWidget* m_form;
    QLabel* m_empty;
    QLabel* m_raw;
    QLabel* m_rawHeading;
    QLabel* m_inserted;
    QPlainTextEdit* m_correction;
    QPlainTextEdit* m_note;
    bool m_finishing = false;
};

} // namespace quenda
