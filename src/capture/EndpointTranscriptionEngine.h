#pragma once

#include "capture/SpeechEngine.h"

#include <QUrl>

#include <memory>

class QNetworkAccessManager;

namespace quenda {

class Scheduler;

// Any OpenAI-compatible transcription service (POST .../audio/transcriptions, a multipart WAV upload, a
// JSON reply with "text"): a cloud Whisper service or a local whisper server. While the user speaks, the
// audio so far is transcribed again about once a second for the partial results; the final result comes
// from the whole recording once the audio has ended. Lives on the main thread; so do its callbacks.
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

    EndpointTranscriptionEngine(Config config, Scheduler& mainQueue, QNetworkAccessManager& network);

    // "https://host/openai/v1" or "http://127.0.0.1:8080" name the service; the endpoint path is added.
    static QUrl endpointUrl(const QString& configured);

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
    QNetworkAccessManager& m_network;
    int m_partialTimeoutMsec = 10000;
    int m_finalTimeoutMsec = 30000;
};

} // namespace quenda
