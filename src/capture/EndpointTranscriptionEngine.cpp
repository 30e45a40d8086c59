#include "capture/EndpointTranscriptionEngine.h"

#include "base/Scheduler.h"
#include "capture/AudioConversion.h"
#include "capture/WavFile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QUuid>

namespace quenda {

class EndpointSession final : public SpeechSession, public std::enable_shared_from_this<EndpointSession> {
public:
    EndpointSession(std::shared_ptr<EndpointTranscriptionEngine> engine, Callbacks callbacks)
        : m_engine(std::move(engine))
        , m_callbacks(std::move(callbacks))
    {}

    void begin() { scheduleTick(); }

    void append(const AudioBuffer& buffer) override
    {
        const QByteArray mono = AudioConversion::toMonoInt16(buffer);
        QMutexLocker locker(&m_audioMutex);
        if (m_sampleRate == 0)
            m_sampleRate = buffer.sampleRate;
        if (buffer.sampleRate == m_sampleRate)
            m_audio.append(mono);
    }

    void endAudio() override
    {
        if (m_ended || m_finished)
            return;
        m_ended = true;
        m_tick.cancel();
        m_inFlight.cancel(); // superseded by the final request
        const auto [audio, rate] = snapshot();
        if (audio.isEmpty()) {
            std::weak_ptr<EndpointSession> weak = weak_from_this();
            m_engine->m_mainQueue.post([weak] {
                if (auto self = weak.lock(); self && !self->m_finished) {
                    self->m_finished = true;
                    if (self->m_callbacks.onResult)
                        self->m_callbacks.onResult(QString(), true);
                }
            });
            return;
        }
        send(audio, rate, true);
    }

    void cancel() override
    {
        m_finished = true;
        m_tick.cancel();
        m_inFlight.cancel();
    }

private:
    std::pair<QByteArray, int> snapshot()
    {
        QMutexLocker locker(&m_audioMutex);
        return {m_audio, m_sampleRate};
    }

    void scheduleTick()
    {
        std::weak_ptr<EndpointSession> weak = weak_from_this();
        m_tick = m_engine->m_mainQueue.postAfter(EndpointTranscriptionEngine::partialInterval, [weak] {
            if (auto self = weak.lock())
                self->tick();
        });
    }

    void tick()
    {
        if (m_ended || m_finished)
            return;
        const auto [audio, rate] = snapshot();
        // A slow service gets no pile of requests: the next partial waits for the running one.
        const bool enough =
            rate > 0 && audio.size() / 2 >= rate * EndpointTranscriptionEngine::minimumPartialSeconds;
        if (!m_partialRunning && enough && audio.size() > m_sentBytes) {
            m_sentBytes = audio.size();
            send(audio, rate, false);
        }
        scheduleTick();
    }

    void send(const QByteArray& audio, int rate, bool isFinal)
    {
        const auto& config = m_engine->m_config;
        const auto [body, contentType] =
            EndpointTranscriptionEngine::uploadBody(WavFile::encodeMonoInt16(audio, rate), config.model);
        HttpRequest request;
        request.method = "POST";
        request.url = config.url;
        request.headers.append({"Content-Type", contentType});
        if (!config.apiKey.isEmpty())
            request.headers.append({"Authorization", "Bearer " + config.apiKey.toUtf8()});
        request.body = body;
        m_partialRunning = !isFinal;
        HttpSession& session = isFinal ? *m_engine->m_finalSession : *m_engine->m_partialSession;
        // The reply comes on the network thread and is handled on the main queue, by a session still there.
        std::weak_ptr<EndpointSession> weak = weak_from_this();
        Scheduler* mainQueue = &m_engine->m_mainQueue;
        m_inFlight = session.send(std::move(request), [weak, mainQueue, isFinal](Result<HttpResponse> reply) {
            mainQueue->post([weak, isFinal, reply] {
                if (auto self = weak.lock())
                    self->finished(reply, isFinal);
            });
        });
    }

    void finished(const Result<HttpResponse>& reply, bool isFinal)
    {
        if (!isFinal)
            m_partialRunning = false;
        // A cancelled partial was superseded or the request was dropped: nothing to say.
        if (m_finished || (!isFinal && m_ended))
            return;
        const auto [text, error] = EndpointTranscriptionEngine::readReply(reply);
        if (!text) {
            m_finished = true;
            m_tick.cancel();
            if (m_callbacks.onError)
                m_callbacks.onError(SpeechEngineError{false, error});
            return;
        }
        if (isFinal)
            m_finished = true;
        if (m_callbacks.onResult)
            m_callbacks.onResult(*text, isFinal);
    }

    std::shared_ptr<EndpointTranscriptionEngine> m_engine;
    Callbacks m_callbacks;
    QMutex m_audioMutex; // the audio thread appends, the main thread sends
    QByteArray m_audio;
    int m_sampleRate = 0;
    // Main thread only.
    RequestHandle m_inFlight;
    bool m_partialRunning = false;
    qsizetype m_sentBytes = 0;
    bool m_ended = false;
    bool m_finished = false;
    TaskHandle m_tick;
};

EndpointTranscriptionEngine::EndpointTranscriptionEngine(Config config, Scheduler& mainQueue)
    : m_config(std::move(config))
    , m_mainQueue(mainQueue)
{
    setRequestTimeouts(m_partialTimeoutMsec, m_finalTimeoutMsec);
}

std::pair<QByteArray, QByteArray> EndpointTranscriptionEngine::uploadBody(const QByteArray& wav,
                                                                          const QString& model)
{
    const QByteArray boundary = "quenda-" + QUuid::createUuid().toByteArray(QUuid::Id128);
    auto field = [&](const QByteArray& name, const QByteArray& value) {
        return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
               "\r\n";
    };
    QByteArray body = "--" + boundary +
                      "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n"
                      "Content-Type: audio/wav\r\n\r\n" +
                      wav + "\r\n";
    body += field("model", model.toUtf8());
    body += field("response_format", "json");
    body += "--" + boundary + "--\r\n";
    return {body, "multipart/form-data; boundary=" + boundary};
}

std::pair<std::optional<QString>, QString>
EndpointTranscriptionEngine::readReply(const Result<HttpResponse>& reply)
{
    if (!reply.ok()) {
        if (reply.error().kind() == ServiceError::Kind::TimedOut)
            return {std::nullopt, QStringLiteral("The transcription service did not answer in time.")};
        return {
            std::nullopt,
            QStringLiteral("The transcription service is unreachable: %1").arg(reply.error().description())};
    }
    const HttpResponse& response = reply.value();
    const QJsonObject json = QJsonDocument::fromJson(response.body).object();
    if (response.statusCode < 200 || response.statusCode >= 300) {
        QString message =
            json.value(QLatin1String("error")).toObject().value(QLatin1String("message")).toString();
        if (message.isEmpty())
            message = QString::fromUtf8(response.body.left(200)).trimmed();
        return {std::nullopt,
                QStringLiteral("Transcription failed (HTTP %1): %2").arg(response.statusCode).arg(message)};
    }
    const QJsonValue text = json.value(QLatin1String("text"));
    if (!text.isString())
        return {std::nullopt, QStringLiteral("The transcription service sent an unreadable reply.")};
    return {text.toString().trimmed(), QString()};
}

QUrl EndpointTranscriptionEngine::endpointUrl(const QString& configured)
{
    QUrl url(configured.trimmed());
    if (!url.isValid() || url.host().isEmpty())
        return {};
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (!path.endsWith(QLatin1String("/audio/transcriptions")))
        path += path.endsWith(QLatin1String("/v1")) ? QStringLiteral("/audio/transcriptions")
                                                    : QStringLiteral("/v1/audio/transcriptions");
    url.setPath(path);
    return url;
}

void EndpointTranscriptionEngine::setRequestTimeouts(int partialMsec, int finalMsec)
{
    m_partialTimeoutMsec = partialMsec;
    m_finalTimeoutMsec = finalMsec;
    m_partialSession = std::make_unique<HttpSession>(HttpSession::Timeouts{partialMsec, 0});
    m_finalSession = std::make_unique<HttpSession>(HttpSession::Timeouts{finalMsec, 0});
}

bool EndpointTranscriptionEngine::isAvailable() const
{
    const QString scheme = m_config.url.scheme();
    return m_config.url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

std::shared_ptr<SpeechSession> EndpointTranscriptionEngine::startSession(SpeechSession::Callbacks callbacks)
{
    auto session = std::make_shared<EndpointSession>(shared_from_this(), std::move(callbacks));
    session->begin();
    return session;
}

} // namespace quenda
