#include "ui/feedback/FeedbackModel.h"

#include "core/DictationOrchestrator.h"
#include "training/TrainingDataLogger.h"

namespace quenda {

namespace {
std::optional<QString> unlessEmpty(const QString& text)
{
    return text.isEmpty() ? std::nullopt : std::optional(text);
}
} // namespace

FeedbackModel::FeedbackModel(DictationOrchestrator& orchestrator, TrainingDataLogger& trainingLog,
                             QObject* parent)
    : QObject(parent)
    , m_orchestrator(orchestrator)
    , m_trainingLog(trainingLog)
{
    connect(&m_orchestrator, &DictationOrchestrator::flaggedDictationChanged, this, &FeedbackModel::reload);
    reload();
}

void FeedbackModel::reload()
{
    const std::optional<DictationResult>& flagged = m_orchestrator.flaggedDictation();
    if (flagged == m_dictation)
        return;
    m_dictation = flagged;
    // The user edits what was inserted rather than typing it all again.
    m_correctedText = m_dictation ? m_dictation->text : QString();
    m_contextNote.clear();
    Q_EMIT dictationChanged();
}

void FeedbackModel::setCorrectedText(const QString& text)
{
    m_correctedText = text;
}

void FeedbackModel::setContextNote(const QString& text)
{
    m_contextNote = text;
}

void FeedbackModel::submit()
{
    if (m_dictation)
        m_trainingLog.recordFeedback(m_dictation->text, FeedbackType::bad, unlessEmpty(m_correctedText),
                                     unlessEmpty(m_contextNote));
    m_orchestrator.setFlaggedDictation(std::nullopt);
}

void FeedbackModel::dismiss()
{
    m_orchestrator.setFlaggedDictation(std::nullopt);
}

} // namespace quenda
