#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedLayout;

namespace quenda {

class ReportProblemModel;
class Spinner;

// "Report a Problem": the form (text, diagnostics preview, error, Cancel and Send Report) and, once sent,
// the thank-you view with Close. Each new showing starts from an empty form.
class ReportProblemWindow final : public QWidget {
    Q_OBJECT
public:
    explicit ReportProblemWindow(ReportProblemModel& model, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* form();
    QWidget* thanks();
    void sync();

    ReportProblemModel& m_model;
    QStackedLayout* m_views;
    QPlainTextEdit* m_message = nullptr;
    QLabel* m_error = nullptr;
    QPushButton* m_send = nullptr;
    Spinner* m_sending = nullptr;
};

} // namespace quenda
