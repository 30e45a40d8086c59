#include "capture/EndpointTranscriptionEngine.h"

#include "base/Scheduler.h"
#include "capture/AudioConversion.h"
#include "capture/WavFile.h"

#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

namespace quenda {

namespace {

QHttpPart formField(const QByteArray& name, const QByteArray& value)
{
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentDispositionHeader, QByteArray("form-data; name=\"" + name + "\""));
    part.setBody(value);
    return part;
}

// The text of a reply, or the description of what went wrong.
std::pair<std::optional<QString>, QString> readReply(QNetworkReply& reply)
{
    const QByteArray body = reply.readAll();
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QJsonObject json = QJsonDocument::fromJson(body).object();
    if (status == 0) {
        if (reply.error() == QNetworkReply::OperationCanceledError)
            return {std::nullopt, QStringLiteral("The transcription service did not answer in time.")};
        return {std::nullopt,
                QStringLiteral("The transcription service is unreachable: %1").arg(reply.errorString())};
    }
    if (status < 200 || status >= 300) {
        QString message =
            json.value(QLatin1String("error")).toObject().value(QLatin1String("message")).toString();
        if (message.isEmpty())
            message = QString::fromUtf8(body.left(200)).trimmed();
        if (message.isEmpty())
            message = reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return {std::nullopt, QStringLiteral("Transcription failed (HTTP %1): %2").arg(status).arg(message)};
    }
    const QJsonValue text = json.value(QLatin1String("text"));
    if (!text.isString())
        return {std::nullopt, QStringLiteral("The transcription service sent an unreadable reply.")};
    return {text.toString().trimmed(), QString()};
}

} // namespace

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
        if (m_inFlight)
            m_inFlight->abort(); // superseded by the final request
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
        if (m_inFlight)
            m_inFlight->abort();
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
        if (!m_inFlight && enough && audio.size() > m_sentBytes) {
            m_sentBytes = audio.size();
            send(audio, rate, false);
        }
        scheduleTick();
    }

    void send(const QByteArray& audio, int rate, bool isFinal)
    {
        const auto& config = m_engine->m_config;
        auto* multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        QHttpPart file;
        file.setHeader(QNetworkRequest::ContentDispositionHeader,
                       QByteArray("form-data; name=\"file\"; filename=\"audio.wav\""));
        file.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("audio/wav"));
        file.setBody(WavFile::encodeMonoInt16(audio, rate));
        multipart->append(file);
        multipart->append(formField("model", config.model.toUtf8()));
        multipart->append(formField("response_format", "json"));

        QNetworkRequest request(config.url);
        if (!config.apiKey.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + config.apiKey.toUtf8());
        request.setTransferTimeout(isFinal ? m_engine->m_finalTimeoutMsec : m_engine->m_partialTimeoutMsec);
        QNetworkReply* reply = m_engine->m_network.post(request, multipart);
        multipart->setParent(reply);
        m_inFlight = reply;
        std::weak_ptr<EndpointSession> weak = weak_from_this();
        QObject::connect(reply, &QNetworkReply::finished, reply, [weak, reply, isFinal] {
            reply->deleteLater();
            if (auto self = weak.lock())
                self->finished(*reply, isFinal);
        });
    }

    void finished(QNetworkReply& reply, bool isFinal)
    {
        if (m_inFlight == &reply)
            m_inFlight = nullptr;
        // An aborted partial was superseded or the request was dropped: nothing to say.
        if (m_finished || (!isFinal && m_ended))
            return;
        const auto [text, error] = readReply(reply);
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
    QPointer<QNetworkReply> m_inFlight;
    qsizetype m_sentBytes = 0;
    bool m_ended = false;
    bool m_finished = false;
    TaskHandle m_tick;
};

EndpointTranscriptionEngine::EndpointTranscriptionEngine(Config config, Scheduler& mainQueue,
                                                         QNetworkAccessManager& network)
    : m_config(std::move(config))
    , m_mainQueue(mainQueue)
    , m_network(network)
{}

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
