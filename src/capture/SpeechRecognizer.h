#pragma once

#include "base/Scheduler.h"
#include "capture/SpeechEngine.h"
#include "capture/SpeechRecognition.h"

#include <QMutex>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

namespace quenda {

enum class SpeechRecognizerError { notAvailable, notAuthorized };
QString describe(SpeechRecognizerError error);

// Turns the audio of one dictation into partial and final transcripts through the configured speech
// engine. When the engine ends a segment on its own, the next segment's text is joined to the earlier
// ones, so a long dictation reads as one transcript.
class SpeechRecognizer final : public QObject, public SpeechRecognition {
    Q_OBJECT
public:
    static constexpr double cleanupDelay = 1.0;
    // After this long without a dictation the engine may free its model: a tray application that waits
    // for the hotkey all day should not hold it. Dictations in a row keep it.
    static constexpr double modelIdleRelease = 120.0;
    // Gives the engine chosen in the settings right now (nothing when none can be built).
    using EngineSource = std::function<std::shared_ptr<SpeechEngine>()>;

    SpeechRecognizer(Scheduler& mainQueue, EngineSource engines, QObject* parent = nullptr);
    ~SpeechRecognizer() override;

    std::optional<QString> startRecognition() override;
    void stopRecognition() override;
    double finalAllowance() const override;
    void appendAudio(const AudioBuffer& buffer) override;
    void setOnResult(ResultHandler handler) override { m_onResult = std::move(handler); }
    void setOnError(ErrorHandler handler) override { m_onError = std::move(handler); }

    bool isRecognizing() const { return m_isRecognizing; }
    // How long the final result may take after the stop, at least (the engine may ask for longer; a file
    // transcription allows its engine longer).
    void setCleanupDelay(double seconds) { m_cleanupDelay = seconds; }
    const QString& currentTranscript() const { return m_currentTranscript; }

private:
    void startRecognitionTask(bool continuing);
    void cleanUpRecognition(bool cancelTask);
    void handleResult(quint64 session, const QString& text, bool isFinal);
    void handleError(quint64 session, const SpeechEngineError& error);

    Scheduler& m_mainQueue;
    EngineSource m_engines;
    ResultHandler m_onResult;
    ErrorHandler m_onError;
    double m_cleanupDelay = cleanupDelay;
    double m_finalAllowance = 0; // stated by the engine at the last stop
    std::atomic_bool m_isRecognizing{false};
    QString m_currentTranscript; // main thread

    // Shared with the engine's thread and the audio thread.
    QMutex m_mutex;
    std::shared_ptr<SpeechEngine> m_engine;
    std::shared_ptr<SpeechSession> m_session;
    quint64 m_sessionId = 0;
    QString m_previousSegmentsText;
    QString m_lastJoinedText;
    TaskHandle m_pendingCleanup;
    TaskHandle m_modelRelease; // main thread
    // Shared with the engine's callbacks, which hold it while they run.
    struct Lifetime {
        std::recursive_mutex mutex; // a callback may lead to another on the same thread
        bool alive = true;
    };
    std::shared_ptr<Lifetime> m_lifetime = std::make_shared<Lifetime>();
};

} // namespace quenda
