#pragma once

#include "base/DictationResult.h"
#include "base/Scheduler.h"
#include "base/Settings.h"
#include "capture/AudioCapture.h"
#include "capture/HotkeyListener.h"
#include "capture/SpeechRecognition.h"
#include "core/DictationSpacing.h"
#include "core/DictationState.h"
#include "core/PillPresenter.h"
#include "core/PostPasteCapture.h"
#include "insert/TextInsertion.h"
#include "platform/KeyTyper.h"
#include "platform/MicrophoneAuthorization.h"
#include "platform/PermissionServices.h"
#include "platform/Workspace.h"
#include "text/TextEnhancement.h"
#include "training/TrainingLog.h"

#include <QList>
#include <QObject>

#include <memory>
#include <optional>

namespace quenda {

class SnippetManager;
class StreamAccumulator;
class UserDefaults;

// Everything the orchestrator works with. None of it is owned by the orchestrator: the application (or a
// test) owns the collaborators and keeps them alive for as long as the orchestrator.
struct DictationCollaborators {
    Scheduler* mainQueue = nullptr;
    UserDefaults* defaults = nullptr;
    SnippetManager* snippets = nullptr;
    TrainingLog* trainingLog = nullptr;
    AudioCapture* audioManager = nullptr;
    SpeechRecognition* speechRecognizer = nullptr;
    HotkeyListener* hotkeyManager = nullptr;
    TextInsertion* textInserter = nullptr;
    TextEnhancement* textEnhancer = nullptr;
    PostPasteCapture* postPasteCapture = nullptr;
    Workspace* workspace = nullptr;
    KeyTyper* keyTyper = nullptr;
    MicrophoneAuthorization* microphone = nullptr;
    PermissionServices* permissions = nullptr;
    // The pill window is made on first use and kept.
    std::function<std::unique_ptr<PillPresenter>()> makePill;
};

// Owns one dictation from the hotkey press to the inserted text, and is the only writer of the dictation
// state. Every observable field is written on the main queue; every closure handed to a collaborator holds
// the orchestrator weakly and does nothing once it is gone.
class DictationOrchestrator : public QObject {
    Q_OBJECT
public:
    explicit DictationOrchestrator(const DictationCollaborators& collaborators, QObject* parent = nullptr);
    ~DictationOrchestrator() override;

    static constexpr int maxRecentDictations = 10;
    static constexpr double speculativeInterval = 0.5;
    // The shortest wait for the final transcript after the stop; an engine may ask for longer.
    static constexpr double finalizationTimeout = 0.6;
    static constexpr double pillFadeDuration = 0.3;
    static constexpr double reactivationPause = 0.1;
    static constexpr double postPasteDelay = 8.0;
    static inline const QString accessibilityPromptKey = settings::accessibilityPrompted.key();
    static inline const QString inputMonitoringPromptKey = settings::inputMonitoringPrompted.key();
    static inline const QString automationGrantedKey = settings::automationGranted.key();

    // Observable state.
    const DictationState& state() const { return m_state; }
    const QString& currentTranscript() const { return m_currentTranscript; }
    const QList<DictationResult>& recentDictations() const { return m_recentDictations; }
    float audioLevel() const { return m_audioLevel; }
    bool accessibilityAccessGranted() const { return m_accessibilityAccessGranted; }
    bool eventListeningAccessGranted() const { return m_eventListeningAccessGranted; }
    bool eventPostingAccessGranted() const { return m_eventPostingAccessGranted; }
    bool automationAccessGranted() const { return m_automationAccessGranted; }
    const QString& lastInsertionStatus() const { return m_lastInsertionStatus; }
    const std::optional<DictationResult>& flaggedDictation() const { return m_flaggedDictation; }
    void setFlaggedDictation(std::optional<DictationResult> dictation);

    const std::optional<InsertionTarget>& insertionTarget() const { return m_insertionTarget; }
    bool isAwaitingTranscriptFinalization() const { return m_awaitingTranscriptFinalization; }

    // Collaborators, for the windows that show or drive them.
    HotkeyListener& hotkeyManager() { return *m_c.hotkeyManager; }
    TextEnhancement& textEnhancer() { return *m_c.textEnhancer; }
    AudioCapture& audioManager() { return *m_c.audioManager; }
    MicrophoneAuthorization& microphone() { return *m_c.microphone; }

    // Wires the callbacks once, then restarts the hotkey listener and runs the permission steps. Called at
    // start-up and again by the settings and the tray's "Retry Hotkey".
    void configurePipeline();
    // The hotkey's start: accepted in idle, and in error (a new press is how the user leaves an error).
    void startDictation();
    // The hotkey's stop: accepted while listening.
    void stopDictation();
    // Drops the dictation being recorded without a trace (the hotkey's key began a shortcut).
    void cancelDictation();

    // Permission tracking: recompute the four flags; ask once per launch for what is missing.
    void refreshPermissionStatus();
    void requestInitialPermissionsIfNeeded();
    void requestAutomationAccess(bool showStatus);

Q_SIGNALS:
    void stateChanged();
    void currentTranscriptChanged();
    void recentDictationsChanged();
    void audioLevelChanged();
    void permissionsChanged();
    void lastInsertionStatusChanged();
    void flaggedDictationChanged();

private:
    struct CleanUpJob;

    void handleRecognitionResult(const DictationResult& result);
    void handleRecognitionError(const QString& description);
    void handleAudioStartFailure(quint64 dictation);
    void finalizeTranscript(const std::optional<QString>& text);
    void insertPlain(const QString& transcript);
    void enhanceAndInsert(std::shared_ptr<CleanUpJob> job);
    void streamCleanUp(std::shared_ptr<CleanUpJob> job);
    void finishCleanUp(std::shared_ptr<CleanUpJob> job, const EnhancementResult& result);
    void completeCleanUp(std::shared_ptr<CleanUpJob> job, const QString& finalText);
    void typeStreamedText(CleanUpJob& job, const QString& chunk);
    void schedulePostPasteCapture(const PostPasteRecord& record);
    void endDictation();

    void pushRecent(const DictationResult& result);
    void setState(const DictationState& state);
    void setCurrentTranscript(const QString& text);
    void setAudioLevel(float level);
    void setLastInsertionStatus(const QString& status);

    PillPresenter& pill();
    PillContent pillContent() const;
    void showPill();
    void refreshPill();
    void fadePill();

    DictationCollaborators m_c;
    Scheduler& m_mainQueue;
    std::unique_ptr<PillPresenter> m_pill;

    DictationState m_state = DictationState::idle();
    QString m_currentTranscript;
    QList<DictationResult> m_recentDictations;
    float m_audioLevel = 0;
    bool m_accessibilityAccessGranted = false;
    bool m_eventListeningAccessGranted = false;
    bool m_eventPostingAccessGranted = false;
    bool m_automationAccessGranted = false;
    QString m_lastInsertionStatus = QStringLiteral("No insertion attempted yet.");
    std::optional<DictationResult> m_flaggedDictation;

    std::optional<InsertionTarget> m_insertionTarget;
    std::optional<QString> m_precedingText; // what the caret followed when the dictation started
    DictationSpacing m_spacing;
    bool m_awaitingTranscriptFinalization = false;
    bool m_hasRequestedInitialPermissionsThisLaunch = false;
    bool m_hasConfiguredPipeline = false;
    QDateTime m_lastSpeculativeTime = distantPast();
    TaskHandle m_finalizationTimer;
    // Counts dictations, so that late news of an earlier one (a failed audio start, a slow clean-up) never
    // changes the state of the one under way.
    quint64 m_dictationSerial = 0;
};

} // namespace quenda
