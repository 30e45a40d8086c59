#pragma once

#include "base/Lifetime.h"

#include <QObject>
#include <QString>

#include <optional>

namespace quenda {

class QuendaAPIClient;
class Scheduler;

// The problem report form: the user's text, a one-line diagnostics preview, and the three outcomes of
// sending (sent, refused, unreachable). The text stays for another attempt after a failure; a new showing
// of the window starts from an empty form.
class ReportProblemModel : public QObject {
    Q_OBJECT
public:
    ReportProblemModel(QuendaAPIClient& backend, Scheduler& mainQueue, QObject* parent = nullptr);

    const QString& message() const { return m_message; }
    void setMessage(const QString& message);
    bool isSubmitting() const { return m_isSubmitting; }
    bool submitted() const { return m_submitted; }
    const std::optional<QString>& error() const { return m_error; }
    // A message of spaces counts as text.
    bool canSend() const { return !m_message.isEmpty() && !m_isSubmitting; }
    // "v0.1.0 (0.1.0) · Debian GNU/Linux 12 (bookworm)"
    static QString diagnosticsPreview();

    void submit();
    void reset();

Q_SIGNALS:
    void changed();

private:
    QuendaAPIClient& m_backend;
    Scheduler& m_mainQueue;
    QString m_message;
    bool m_isSubmitting = false;
    bool m_submitted = false;
    std::optional<QString> m_error;
    quint64 m_generation = 0;
    Lifetime m_lifetime;
};

} // namespace quenda
