#include "core/DictationOrchestrator.h"

#include "base/Log.h"
#include "base/UserDefaults.h"
#include "core/StreamAccumulator.h"
#include "text/Graphemes.h"
#include "text/SnippetManager.h"

#include <QPointer>

#include <algorithm>

namespace quenda {

namespace {
QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString microphoneRequiredMessage()
{
    return QStringLiteral("Microphone access required. Open Quenda Settings to enable.");
}

QString micUnavailableMessage()
{
    return QString::fromUtf8("Mic unavailable \u2014 check audio device");
}
} // namespace

// Everything the clean-up of one dictation carries from the finalisation to its end.
struct DictationOrchestrator::CleanUpJob {
    quint64 dictation = 0;
    QString raw;
    std::optional<InsertionTarget> target;
    std::optional<QString> frontBundleID;
    QString input; // the text the model cleans up: the expanded transcript
    std::shared_ptr<StreamAccumulator> accumulator;
    std::optional<QString> preceding; // what the caret followed when the dictation started
    bool beforeFirstWord = true;      // nothing but spaces has been typed yet
};

DictationOrchestrator::DictationOrchestrator(const DictationCollaborators& collaborators, QObject* parent)
    : QObject(parent)
    , m_c(collaborators)
    , m_mainQueue(*m_c.mainQueue)
{
    Q_ASSERT(m_c.defaults && m_c.snippets && m_c.trainingLog && m_c.audioManager && m_c.speechRecognizer &&
             m_c.hotkeyManager && m_c.textInserter && m_c.textEnhancer && m_c.postPasteCapture &&
             m_c.workspace && m_c.keyTyper && m_c.microphone && m_c.permissions && m_c.makePill);
    m_accessibilityAccessGranted = m_c.permissions->isAccessibilityTrusted();
    m_eventListeningAccessGranted = m_c.permissions->canListenToEvents();
    m_eventPostingAccessGranted = m_c.permissions->canPostEvents();
    m_automationAccessGranted = m_c.defaults->boolForKey(automationGrantedKey);

    QPointer<DictationOrchestrator> self(this);
    // Where the platform learns the accessibility state in the background, the flags follow its answer.
    m_c.permissions->setOnAccessibilityChanged([self] {
        if (self)
            self->refreshPermissionStatus();
    });
    m_c.textInserter->setOnStatusChange([self](const QString& status) {
        if (self)
            self->setLastInsertionStatus(status);
    });
    Scheduler* mainQueue = &m_mainQueue;
    m_c.audioManager->setLevelHandler([self, mainQueue](float level) {
        mainQueue->post([self, level] {
            if (self)
                self->setAudioLevel(level);
        });
    });
}

DictationOrchestrator::~DictationOrchestrator()
{
    // The capture thread calls into the recogniser; it must be quiet before either goes away.
    m_c.audioManager->setBufferHandler({});
    m_c.audioManager->stopRecording();
    m_c.audioManager->setLevelHandler({});
    m_c.textInserter->setOnStatusChange({});
}

void DictationOrchestrator::setFlaggedDictation(std::optional<DictationResult> dictation)
{
    m_flaggedDictation = std::move(dictation);
    Q_EMIT flaggedDictationChanged();
}

// MARK: wiring

void DictationOrchestrator::configurePipeline()
{
    if (!m_hasConfiguredPipeline) {
        QPointer<DictationOrchestrator> self(this);
        Scheduler* mainQueue = &m_mainQueue;
        m_c.hotkeyManager->loadSavedHotkey();
        m_c.hotkeyManager->setOnRecordingStart([self] {
            if (self)
                self->startDictation();
        });
        m_c.hotkeyManager->setOnRecordingStop([self] {
            if (self)
                self->stopDictation();
        });
        m_c.hotkeyManager->setOnRecordingCancel([self] {
            if (self)
                self->cancelDictation();
        });
        // Runs on the capture thread: hand the buffer straight to the recogniser's current request.
        SpeechRecognition* recognizer = m_c.speechRecognizer;
        m_c.audioManager->setBufferHandler(
            [recognizer](const AudioBuffer& buffer) { recognizer->appendAudio(buffer); });
        m_c.speechRecognizer->setOnResult([self, mainQueue](const DictationResult& result) {
            mainQueue->post([self, result] {
                if (self)
                    self->handleRecognitionResult(result);
            });
        });
        m_c.speechRecognizer->setOnError([self, mainQueue](const QString& description) {
            mainQueue->post([self, description] {
                if (self)
                    self->handleRecognitionError(description);
            });
        });
        m_hasConfiguredPipeline = true;
    }
    m_c.hotkeyManager->stopListening();
    m_c.hotkeyManager->startListening();
    refreshPermissionStatus();
    requestInitialPermissionsIfNeeded();
}

// MARK: one dictation

void DictationOrchestrator::startDictation()
{
    // A press in `error` starts afresh, exactly as one in `idle` does: the user leaves an error by dictating
    // again. Presses while listening or processing are dropped, not queued.
    if (!m_state.isIdle() && !m_state.isError())
        return;
    if (!m_c.microphone->isAuthorized()) {
        setState(DictationState::error(microphoneRequiredMessage()));
        return;
    }
    m_awaitingTranscriptFinalization = false;
    m_lastSpeculativeTime = distantPast();
    m_c.textEnhancer->clearSpeculativeCache();

    m_insertionTarget = m_c.textInserter->captureInsertionTarget();
    // Where the caret stands now is where the words go: read before anything is typed.
    m_precedingText = m_spacing.precedingText(
        m_insertionTarget,
        m_insertionTarget ? m_c.textInserter->textBeforeCaret(*m_insertionTarget) : std::nullopt);

    if (const std::optional<QString> failure = m_c.speechRecognizer->startRecognition()) {
        m_insertionTarget.reset();
        setState(DictationState::error(*failure));
        return;
    }

    const quint64 dictation = ++m_dictationSerial;
    QPointer<DictationOrchestrator> self(this);
    Scheduler* mainQueue = &m_mainQueue;
    m_c.audioManager->startRecording([self, mainQueue, dictation](std::optional<QString> error) {
        if (!error)
            return;
        log("Quenda", QStringLiteral("Audio capture failed: ") + *error);
        mainQueue->post([self, dictation] {
            if (self)
                self->handleAudioStartFailure(dictation);
        });
    });

    setState(DictationState::listening());
    setCurrentTranscript(QString());
    showPill();
}

void DictationOrchestrator::handleAudioStartFailure(quint64 dictation)
{
    // News about a dictation that has already given way to another changes nothing.
    if (dictation != m_dictationSerial || !(m_state.isListening() || m_state.isProcessing()))
        return;
    // Without audio the recogniser has nothing to do: stop it rather than leave it waiting.
    m_c.speechRecognizer->stopRecognition();
    m_awaitingTranscriptFinalization = false;
    m_finalizationTimer.cancel();
    m_insertionTarget.reset();
    setState(DictationState::error(micUnavailableMessage()));
    fadePill();
}

void DictationOrchestrator::handleRecognitionResult(const DictationResult& result)
{
    // Results that arrive once the transcript has been taken (a late final after the timer, the tail of a
    // torn-down recognition) belong to no dictation any more.
    if (!m_state.isListening() && !m_awaitingTranscriptFinalization)
        return;
    setCurrentTranscript(result.text);
    refreshPill();

    if (result.isFinal) {
        if (m_awaitingTranscriptFinalization)
            finalizeTranscript(result.text);
        return;
    }
    if (!m_state.isListening() || !m_c.textEnhancer->isCleanUpAvailable())
        return;
    const QDateTime now = m_mainQueue.now();
    if (secondsBetween(m_lastSpeculativeTime, now) < speculativeInterval)
        return; // too soon: skipped, not deferred
    m_lastSpeculativeTime = now;
    m_c.textEnhancer->speculativeEnhance(
        result.text, m_insertionTarget ? std::optional<QString>(m_insertionTarget->bundleID) : std::nullopt);
}

void DictationOrchestrator::handleRecognitionError(const QString& description)
{
    const bool belongsToDictation =
        m_state.isListening() || (m_state.isProcessing() && m_awaitingTranscriptFinalization);
    if (!belongsToDictation)
        return;
    if (m_awaitingTranscriptFinalization && !m_currentTranscript.isEmpty()) {
        finalizeTranscript(std::nullopt); // the words so far are the transcript
        return;
    }
    // The dictation is over: the microphone must not keep recording until the next one.
    m_c.audioManager->stopRecording();
    m_c.speechRecognizer->stopRecognition();
    m_awaitingTranscriptFinalization = false;
    m_finalizationTimer.cancel();
    m_insertionTarget.reset();
    setState(DictationState::error(description));
    fadePill();
}

void DictationOrchestrator::stopDictation()
{
    if (!m_state.isListening())
        return;
    m_c.audioManager->stopRecording();
    m_c.speechRecognizer->stopRecognition();
    setState(DictationState::processing());
    m_awaitingTranscriptFinalization = true;

    // Whichever comes first takes the transcript: the recogniser's final result or this timer, which waits
    // as long as the engine says its final may take.
    const double wait = std::max(finalizationTimeout, m_c.speechRecognizer->finalAllowance());
    QPointer<DictationOrchestrator> self(this);
    m_finalizationTimer = m_mainQueue.postAfter(wait, [self] {
        if (self)
            self->finalizeTranscript(std::nullopt);
    });
}

void DictationOrchestrator::cancelDictation()
{
    // The hotkey's key turned out to start a shortcut: no insertion, no message, the pill goes away.
    if (!m_state.isListening())
        return;
    ++m_dictationSerial; // a late audio failure of this dictation changes nothing
    m_c.audioManager->stopRecording();
    m_c.speechRecognizer->stopRecognition();
    m_awaitingTranscriptFinalization = false;
    m_finalizationTimer.cancel();
    m_insertionTarget.reset();
    setState(DictationState::idle());
    setCurrentTranscript(QString());
    pill().fadeOutAndHide(0);
}

void DictationOrchestrator::finalizeTranscript(const std::optional<QString>& text)
{
    if (!m_awaitingTranscriptFinalization)
        return;
    m_awaitingTranscriptFinalization = false;
    m_finalizationTimer.cancel(); // a stale timer must not finalise the next dictation early

    const QString transcript = text.value_or(m_currentTranscript);
    if (transcript.trimmed().isEmpty()) {
        m_insertionTarget.reset();
        setState(DictationState::idle());
        setCurrentTranscript(QString());
        fadePill();
        return;
    }
    if (!m_c.textEnhancer->isCleanUpAvailable()) {
        insertPlain(transcript);
        return;
    }
    setState(DictationState::processing());
    refreshPill();

    auto job = std::make_shared<CleanUpJob>();
    job->dictation = m_dictationSerial;
    job->raw = transcript;
    job->target = m_insertionTarget;
    job->preceding = m_precedingText;
    if (const auto front = m_c.workspace->frontmostApplication())
        job->frontBundleID = front->bundleIdentifier;
    enhanceAndInsert(std::move(job));
}

void DictationOrchestrator::insertPlain(const QString& transcript)
{
    const QString text = m_c.snippets->expandSnippets(transcript).first;
    const DictationResult result{text, true, m_mainQueue.now(), std::nullopt};
    const QString inserted = DictationSpacing::joined(m_precedingText, text);
    m_c.textInserter->insertText(inserted, m_insertionTarget);
    m_spacing.remember(m_insertionTarget, inserted);
    pushRecent(result);
    endDictation();
}

void DictationOrchestrator::enhanceAndInsert(std::shared_ptr<CleanUpJob> job)
{
    const auto [expanded, wasExpanded] = m_c.snippets->expandSnippets(job->raw);
    log("Quenda", QStringLiteral("Raw transcript: ") + quoted(job->raw));
    if (wasExpanded)
        log("Quenda", QStringLiteral("Snippet expanded: ") + quoted(expanded));
    // The clean-up works on the expanded text; the training pair keeps the raw one.
    job->input = wasExpanded ? expanded : job->raw;

    if (!job->target) {
        streamCleanUp(std::move(job));
        return;
    }
    // Bring the target back to the front and give it a moment before typing into it.
    m_c.workspace->activate(job->target->processIdentifier);
    QPointer<DictationOrchestrator> self(this);
    m_mainQueue.postAfter(reactivationPause, [self, job] {
        if (self)
            self->streamCleanUp(job);
    });
}

void DictationOrchestrator::streamCleanUp(std::shared_ptr<CleanUpJob> job)
{
    job->accumulator = std::make_shared<StreamAccumulator>();
    QPointer<DictationOrchestrator> self(this);
    Scheduler* mainQueue = &m_mainQueue;
    auto accumulator = job->accumulator;
    // Pieces may arrive on any thread: only the accumulator is touched there, the rest on the main queue.
    // The completion is posted after the last piece, so every piece is typed before the clean-up ends.
    m_c.textEnhancer->enhanceText(
        job->input, job->frontBundleID,
        [self, mainQueue, accumulator, job](const QString& piece) {
            accumulator->append(piece);
            mainQueue->post([self, accumulator, piece, job] {
                if (!self)
                    return;
                self->typeStreamedText(*job, piece);
                self->setCurrentTranscript(accumulator->text());
                self->refreshPill();
            });
        },
        [self, mainQueue, job](const EnhancementResult& result) {
            mainQueue->post([self, job, result] {
                if (self)
                    self->finishCleanUp(job, result);
            });
        });
}

void DictationOrchestrator::finishCleanUp(std::shared_ptr<CleanUpJob> job, const EnhancementResult& result)
{
    const QString streamed = job->accumulator->text();
    const QString& enhanced = result.text;
    log("Quenda",
        QStringLiteral("Enhanced text: %1 (wasEnhanced: %2)")
            .arg(quoted(enhanced), result.wasEnhanced ? QStringLiteral("true") : QStringLiteral("false")));
    log("Quenda", QStringLiteral("Streamed %1 chars, final %2 chars")
                      .arg(graphemes::count(streamed))
                      .arg(graphemes::count(enhanced)));

    if (streamed.isEmpty() && !enhanced.isEmpty()) {
        log("Quenda", QString::fromUtf8("Stream produced no tokens \u2014 inserting full text as fallback"));
        m_c.textInserter->insertText(DictationSpacing::joined(job->preceding, enhanced), job->target);
    }
    if (result.wasEnhanced && enhanced != job->raw) {
        TrainingEntry entry;
        entry.raw = job->raw;
        entry.enhanced = enhanced;
        entry.app = job->frontBundleID;
        entry.timestamp = iso8601(m_mainQueue.now());
        m_c.trainingLog->log(entry);
    }

    const QString finalText = streamed.isEmpty() ? enhanced : streamed;
    QPointer<DictationOrchestrator> self(this);
    Scheduler* mainQueue = &m_mainQueue;
    m_c.trainingLog->syncIfNeeded(false, [self, mainQueue, job, finalText] {
        mainQueue->post([self, job, finalText] {
            if (self)
                self->completeCleanUp(job, finalText);
        });
    });
}

void DictationOrchestrator::completeCleanUp(std::shared_ptr<CleanUpJob> job, const QString& finalText)
{
    m_spacing.remember(job->target, finalText);
    pushRecent(DictationResult{finalText, true, m_mainQueue.now(), job->raw});
    schedulePostPasteCapture(PostPasteRecord{finalText, job->raw, job->target, job->frontBundleID});
    // A dictation started meanwhile (possible only after an error) owns the state now: leave it alone.
    if (job->dictation == m_dictationSerial)
        endDictation();
}

void DictationOrchestrator::endDictation()
{
    m_awaitingTranscriptFinalization = false;
    m_insertionTarget.reset();
    setState(DictationState::idle());
    setCurrentTranscript(QString());
    fadePill();
}

void DictationOrchestrator::typeStreamedText(CleanUpJob& job, const QString& chunk)
{
    QString text = chunk;
    // The first words decide the separator from what the caret follows; spaces before them count for none.
    if (job.beforeFirstWord)
        text = DictationSpacing::joined(job.preceding, text);
    if (text.isEmpty())
        return;
    job.beforeFirstWord = false;
    // Straight to the front application as key events: the text inserter's chain is not involved.
    m_c.keyTyper->typeText(text);
}

void DictationOrchestrator::schedulePostPasteCapture(const PostPasteRecord& record)
{
    QPointer<DictationOrchestrator> self(this);
    m_mainQueue.postAfter(postPasteDelay, [self, record] {
        // A read-back that finds a dictation under way (or an error showing) is dropped, not retried.
        if (!self || !self->m_state.isIdle())
            return;
        self->m_c.postPasteCapture->capturePostPasteCorrection(record);
    });
}

// MARK: permissions

void DictationOrchestrator::refreshPermissionStatus()
{
    const bool accessibility = m_c.permissions->isAccessibilityTrusted();
    // A listener that runs (through its fallback) counts as granted; accessibility implies posting.
    const bool listening = m_c.permissions->canListenToEvents() || m_c.hotkeyManager->isListening();
    const bool posting = m_c.permissions->canPostEvents() || accessibility;
    const bool automation = m_c.defaults->boolForKey(automationGrantedKey);
    const bool changed = accessibility != m_accessibilityAccessGranted ||
                         listening != m_eventListeningAccessGranted ||
                         posting != m_eventPostingAccessGranted || automation != m_automationAccessGranted;
    m_accessibilityAccessGranted = accessibility;
    m_eventListeningAccessGranted = listening;
    m_eventPostingAccessGranted = posting;
    m_automationAccessGranted = automation;
    if (changed)
        Q_EMIT permissionsChanged();
}

void DictationOrchestrator::requestInitialPermissionsIfNeeded()
{
    if (m_hasRequestedInitialPermissionsThisLaunch)
        return;
    m_hasRequestedInitialPermissionsThisLaunch = true;

    QPointer<DictationOrchestrator> self(this);
    double delay = 0.4;
    if (!m_accessibilityAccessGranted && !m_c.defaults->boolForKey(accessibilityPromptKey)) {
        m_c.defaults->setBool(accessibilityPromptKey, true);
        m_mainQueue.postAfter(delay, [self] {
            if (!self)
                return;
            if (!self->m_c.permissions->isAccessibilityTrusted())
                self->m_c.permissions->promptForAccessibility();
            self->refreshPermissionStatus();
        });
        delay = 1.0;
    }
    if (!m_eventListeningAccessGranted && !m_c.defaults->boolForKey(inputMonitoringPromptKey)) {
        m_c.defaults->setBool(inputMonitoringPromptKey, true);
        m_mainQueue.postAfter(delay, [self] {
            if (!self)
                return;
            self->m_c.permissions->requestListenAccess();
            self->refreshPermissionStatus();
        });
        delay += 0.6;
    }
    // Not gated by a stored mark: asked on every launch until a probe has succeeded.
    if (!m_automationAccessGranted) {
        m_mainQueue.postAfter(delay, [self] {
            if (self)
                self->requestAutomationAccess(false);
        });
    }
}

void DictationOrchestrator::requestAutomationAccess(bool showStatus)
{
    QPointer<DictationOrchestrator> self(this);
    Scheduler* mainQueue = &m_mainQueue;
    UserDefaults* defaults = m_c.defaults;
    m_c.permissions->probeAutomation([self, mainQueue, defaults, showStatus](bool succeeded) {
        defaults->setBool(automationGrantedKey, succeeded);
        mainQueue->post([self, showStatus, succeeded] {
            if (!self)
                return;
            self->refreshPermissionStatus();
            if (showStatus)
                self->setLastInsertionStatus(
                    succeeded
                        ? QStringLiteral("Quenda can now use System Events automation for paste fallback.")
                        : QStringLiteral(
                              "Quenda still needs Automation access to System Events for paste fallback."));
        });
    });
}

// MARK: published fields

void DictationOrchestrator::pushRecent(const DictationResult& result)
{
    m_recentDictations.prepend(result);
    while (m_recentDictations.size() > maxRecentDictations)
        m_recentDictations.removeLast();
    Q_EMIT recentDictationsChanged();
}

void DictationOrchestrator::setState(const DictationState& state)
{
    m_state = state;
    Q_EMIT stateChanged();
}

void DictationOrchestrator::setCurrentTranscript(const QString& text)
{
    m_currentTranscript = text;
    Q_EMIT currentTranscriptChanged();
}

void DictationOrchestrator::setAudioLevel(float level)
{
    m_audioLevel = level;
    Q_EMIT audioLevelChanged();
}

void DictationOrchestrator::setLastInsertionStatus(const QString& status)
{
    m_lastInsertionStatus = status;
    Q_EMIT lastInsertionStatusChanged();
}

// MARK: pill

PillPresenter& DictationOrchestrator::pill()
{
    if (!m_pill)
        m_pill = m_c.makePill();
    return *m_pill;
}

PillContent DictationOrchestrator::pillContent() const
{
    return PillContent{m_state, m_currentTranscript, m_audioLevel};
}

void DictationOrchestrator::showPill()
{
    pill().show(pillContent());
}

void DictationOrchestrator::refreshPill()
{
    pill().refresh(pillContent());
}

void DictationOrchestrator::fadePill()
{
    pill().fadeOutAndHide(pillFadeDuration);
}

} // namespace quenda
