#pragma once

#include "capture/SpeechEngine.h"
#include "net/HttpSession.h"

#include <QUrl>

#include <memory>

namespace quenda {

class Scheduler;

// Any OpenAI-compatible transcription service (POST .../audio/transcriptions, a multipart WAV upload, a
// JSON reply with "text"): a cloud Whisper service or a local whisper server. While the user speaks, the
// audio so far is transcribed again about once a second for the partial results; the final result comes
// from the whole recording once the audio has ended. Lives on the main thread; so do its callbacks. The
// requests go through the HTTP sessions of the network thread, whose replies are brought back to the main
// queue.
class EndpointTranscriptionEngine final : public SpeechEngine,
                                          public std::enable_shared_from_this<EndpointTranscriptionEngine> {
public:
    struct Config {
        QUrl url; // the transcriptions endpoint itself
        QString model;
        QString apiKey; // sent as a bearer token when not empty
        bool operator==(const Config& other) const = default;
    };

    static constexpr double partialInterval = 1.0;
    // Less than this much audio is not worth a partial request.
    static constexpr double minimumPartialSeconds = 0.3;

    EndpointTranscriptionEngine(Config config, Scheduler& mainQueue);

    // "https://host/openai/v1" or "http://127.0.0.1:8080" name the service; the endpoint path is added.
    static QUrl endpointUrl(const QString& configured);
    // The multipart upload of one recording (16-bit mono WAV): the request's body and its content type.
    static std::pair<QByteArray, QByteArray> uploadBody(const QByteArray& wav, const QString& model);
    // The transcript of a reply, or the description of what went wrong.
    static std::pair<std::optional<QString>, QString> readReply(const Result<HttpResponse>& reply);

    const Config& config() const { return m_config; }
    void setRequestTimeouts(int partialMsec, int finalMsec);

    bool isAvailable() const override;
    // The final request's timeout: a slow service still answers within it, or the request fails.
    double finalAllowance() const override { return m_finalTimeoutMsec / 1000.0; }
    std::shared_ptr<SpeechSession> startSession(SpeechSession::Callbacks callbacks) override;

private:
    friend class EndpointSession;

    Config m_config;
    Scheduler& m_mainQueue;
    int m_partialTimeoutMsec = 10000;
    int m_finalTimeoutMsec = 30000;
    // Each limits how long a reply may go without data.
    std::unique_ptr<HttpSession> m_partialSession;
    std::unique_ptr<HttpSession> m_finalSession;
};

} // namespace quenda
