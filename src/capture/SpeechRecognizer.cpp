#include "capture/SpeechRecognizer.h"

#include <QPointer>

#include <algorithm>

namespace quenda {

QString describe(SpeechRecognizerError error)
{
    switch (error) {
    case SpeechRecognizerError::notAvailable:
        return QStringLiteral("Speech recognition is not available on this device.");
    case SpeechRecognizerError::notAuthorized:
        return QStringLiteral("Speech recognition is not authorized. Please enable it in System Settings.");
    }
    return {};
}

SpeechRecognizer::SpeechRecognizer(Scheduler& mainQueue, EngineSource engines, QObject* parent)
    : QObject(parent)
    , m_mainQueue(mainQueue)
    , m_engines(std::move(engines))
{}

SpeechRecognizer::~SpeechRecognizer()
{
    {
        // Waits for a result being handled on the engine's thread; none is handled afterwards.
        std::lock_guard lifetime(m_lifetime->mutex);
        m_lifetime->alive = false;
    }
    QMutexLocker locker(&m_mutex);
    m_pendingCleanup.cancel();
    if (m_session)
        m_session->cancel();
}

std::optional<QString> SpeechRecognizer::startRecognition()
{
    std::shared_ptr<SpeechEngine> engine = m_engines ? m_engines() : nullptr;
    if (!engine || !engine->isAvailable())
        return describe(SpeechRecognizerError::notAvailable);
    if (m_isRecognizing)
        return std::nullopt;
    m_modelRelease.cancel();
    {
        QMutexLocker locker(&m_mutex);
        // The tear-down an earlier stop scheduled must not hit this recognition.
        m_pendingCleanup.cancel();
        m_pendingCleanup = {};
        m_engine = std::move(engine);
        m_previousSegmentsText.clear();
        m_lastJoinedText.clear();
    }
    m_currentTranscript.clear();
    startRecognitionTask(false);
    m_isRecognizing = true;
    return std::nullopt;
}

void SpeechRecognizer::startRecognitionTask(bool continuing)
{
    std::shared_ptr<SpeechSession> old;
    std::shared_ptr<SpeechEngine> engine;
    quint64 id = 0;
    {
        QMutexLocker locker(&m_mutex);
        old = std::exchange(m_session, nullptr);
        engine = m_engine;
        id = ++m_sessionId;
    }
    if (old)
        old->cancel();
    if (!engine)
        return;
    std::shared_ptr<Lifetime> life = m_lifetime;
    SpeechSession::Callbacks callbacks{[this, life, id](const QString& text, bool isFinal) {
                                           std::lock_guard lock(life->mutex);
                                           if (life->alive)
                                               handleResult(id, text, isFinal);
                                       },
                                       [this, life, id](const SpeechEngineError& error) {
                                           std::lock_guard lock(life->mutex);
                                           if (life->alive)
                                               handleError(id, error);
                                       }};
    std::shared_ptr<SpeechSession> session = engine->startSession(std::move(callbacks));
    {
        QMutexLocker locker(&m_mutex);
        if (id != m_sessionId) {
            if (session)
                session->cancel();
            return;
        }
        m_session = session;
    }
    // A stop that came while the new segment was being set up found no request to end: end it here.
    if (continuing && !m_isRecognizing && session)
        session->endAudio();
}

void SpeechRecognizer::stopRecognition()
{
    if (!m_isRecognizing)
        return;
    std::shared_ptr<SpeechSession> session;
    std::shared_ptr<SpeechEngine> engine;
    {
        QMutexLocker locker(&m_mutex);
        session = m_session;
        engine = m_engine;
    }
    if (session)
        session->endAudio();
    m_isRecognizing = false;
    m_finalAllowance = engine ? engine->finalAllowance() : 0;
    // The final result has this long to arrive before the request is cancelled: what the engine asks for,
    // with a margin for the result's way to the main thread.
    const double delay = std::max(m_cleanupDelay, m_finalAllowance + 0.5);
    std::shared_ptr<Lifetime> life = m_lifetime;
    TaskHandle cleanup = m_mainQueue.postAfter(delay, [this, life] {
        if (life->alive)
            cleanUpRecognition(true);
    });
    {
        QMutexLocker locker(&m_mutex);
        m_pendingCleanup.cancel();
        m_pendingCleanup = cleanup;
    }
    m_modelRelease.cancel();
    m_modelRelease = m_mainQueue.postAfter(modelIdleRelease, [weak = std::weak_ptr(engine)] {
        if (const std::shared_ptr<SpeechEngine> idle = weak.lock())
            idle->releaseModel();
    });
}

double SpeechRecognizer::finalAllowance() const
{
    return m_finalAllowance;
}

void SpeechRecognizer::cleanUpRecognition(bool cancelTask)
{
    std::shared_ptr<SpeechSession> session;
    {
        QMutexLocker locker(&m_mutex);
        m_pendingCleanup.cancel();
        m_pendingCleanup = {};
        session = std::exchange(m_session, nullptr);
        ++m_sessionId; // whatever the dropped request still says is not heard
    }
    if (cancelTask && session)
        session->cancel();
}

void SpeechRecognizer::appendAudio(const AudioBuffer& buffer)
{
    std::shared_ptr<SpeechSession> session;
    {
        QMutexLocker locker(&m_mutex);
        session = m_session;
    }
    if (session)
        session->append(buffer);
}

void SpeechRecognizer::handleResult(quint64 id, const QString& text, bool isFinal)
{
    QString joined;
    {
        QMutexLocker locker(&m_mutex);
        if (id != m_sessionId)
            return;
        if (m_previousSegmentsText.isEmpty())
            joined = text;
        else if (text.isEmpty())
            joined = m_previousSegmentsText; // a segment of silence adds nothing, not even a space
        else
            joined = m_previousSegmentsText + QLatin1Char(' ') + text;
        m_lastJoinedText = joined;
        if (isFinal) {
            m_pendingCleanup.cancel();
            m_pendingCleanup = {};
            m_session.reset();
            ++m_sessionId;
        }
    }
    QPointer<SpeechRecognizer> self(this);
    m_mainQueue.post([self, joined] {
        if (self)
            self->m_currentTranscript = joined;
    });
    if (m_onResult)
        m_onResult(DictationResult{joined, isFinal, m_mainQueue.now(), std::nullopt});
    if (isFinal) {
        m_mainQueue.post([self] {
            if (self)
                self->m_isRecognizing = false;
        });
    }
}

void SpeechRecognizer::handleError(quint64 id, const SpeechEngineError& error)
{
    if (error.segmentEnded) {
        {
            QMutexLocker locker(&m_mutex);
            if (id != m_sessionId)
                return;
            m_previousSegmentsText = m_lastJoinedText;
        }
        // The dictation goes on in a new segment; nothing is reported. After a stop the new segment is
        // ended at once: it still receives whatever audio the engine had not yet decoded.
        startRecognitionTask(true);
        return;
    }
    {
        QMutexLocker locker(&m_mutex);
        if (id != m_sessionId)
            return;
        m_pendingCleanup.cancel();
        m_pendingCleanup = {};
        m_session.reset();
        ++m_sessionId;
    }
    // After the stop the orchestrator finalises from its own timer: a late error is dropped.
    if (!m_isRecognizing)
        return;
    if (m_onError)
        m_onError(error.description);
    QPointer<SpeechRecognizer> self(this);
    m_mainQueue.post([self] {
        if (self)
            self->m_isRecognizing = false;
    });
}

} // namespace quenda
