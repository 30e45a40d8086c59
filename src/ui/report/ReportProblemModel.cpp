#include "ui/report/ReportProblemModel.h"

#include "base/Scheduler.h"
#include "base/Wording.h"
#include "net/QuendaAPIClient.h"

#include <QCoreApplication>

namespace quenda {

ReportProblemModel::ReportProblemModel(QuendaAPIClient& backend, Scheduler& mainQueue, QObject* parent)
    : QObject(parent)
    , m_backend(backend)
    , m_mainQueue(mainQueue)
{}

void ReportProblemModel::setMessage(const QString& message)
{
    if (message == m_message)
        return;
    m_message = message;
    Q_EMIT changed();
}

QString ReportProblemModel::diagnosticsPreview()
{
    const QString version = QCoreApplication::applicationVersion();
    return QStringLiteral("v%1 (%2) \u00b7 %3")
        .arg(version.isEmpty() ? QStringLiteral("?") : version, QStringLiteral(QUENDA_VERSION),
             Wording::operatingSystem());
}

void ReportProblemModel::submit()
{
    if (!canSend())
        return;
    m_isSubmitting = true;
    m_error.reset();
    Q_EMIT changed();
    const quint64 generation = m_generation;
    auto answered = m_lifetime.guard([this, generation](QuendaAPIClient::SupportReportOutcome outcome) {
        if (generation != m_generation)
            return; // the form was reset meanwhile
        m_isSubmitting = false;
        if (outcome.submitted)
            m_submitted = true;
        else
            m_error = outcome.message;
        Q_EMIT changed();
    });
    Scheduler* queue = &m_mainQueue;
    m_backend.sendSupportReport(m_message, [queue, answered](QuendaAPIClient::SupportReportOutcome outcome) {
        queue->post([answered, outcome]() mutable { answered(outcome); });
    });
}

void ReportProblemModel::reset()
{
    ++m_generation;
    m_message.clear();
    m_isSubmitting = false;
    m_submitted = false;
    m_error.reset();
    Q_EMIT changed();
}

} // namespace quenda
