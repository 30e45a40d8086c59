#pragma once

#include "base/DictationResult.h"

#include <QObject>
#include <QString>

#include <optional>

namespace quenda {

class DictationOrchestrator;
class TrainingDataLogger;

// "Feedback": the user says what a cleaned-up dictation should have been. It shows the dictation the tray
// menu flagged (nothing when none is); the editor starts with the inserted text. Submitting records bad
// feedback with the correction and the note in the training log (an emptied field is passed as absent);
// submitting or cancelling ends the flag.
class FeedbackModel : public QObject {
    Q_OBJECT
public:
    FeedbackModel(DictationOrchestrator& orchestrator, TrainingDataLogger& trainingLog,
                  QObject* parent = nullptr);

    const std::optional<DictationResult>& dictation() const { return m_dictation; }
    const QString& correctedText() const { return m_correctedText; }
    const QString& contextNote() const { return m_contextNote; }
    void setCorrectedText(const QString& text);
    void setContextNote(const QString& text);

    // The window shows: the flagged dictation is taken up afresh.
    void reload();
    void submit();
    void dismiss();

Q_SIGNALS:
    // The dictation shown changed (the fields were refilled).
    void dictationChanged();

private:
    DictationOrchestrator& m_orchestrator;
    TrainingDataLogger& m_trainingLog;
    std::optional<DictationResult> m_dictation;
    QString m_correctedText;
    QString m_contextNote;
};

} // namespace quenda
