#pragma once

#include "base/Settings.h"
#include "net/ChatCompletionClient.h"
#include "net/HttpSession.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

namespace quenda {

class UserDefaults;

// Groq's OpenAI-compatible chat-completions endpoint, with the user's own key: a plain request that returns
// the whole completion, and a streamed one that hands each piece on as it arrives. Immutable after creation;
// both operations may run at the same time. Completions and pieces arrive on the network thread.
class GroqClient final : public ChatCompletionClient {
public:
    struct Config {
        QUrl url = defaultURL();
        HttpSession::Timeouts timeouts{5000, 10000}; // 5 s without data, 10 s for the whole exchange
    };

    // Groq's own endpoint.
    static QUrl defaultURL();
    // Developer mode may point the client at any OpenAI-compatible chat-completions URL (a local llama.cpp
    // server, Ollama, LM Studio) under "chatCompletionsURL"; an absent or unusable value keeps Groq's.
    static inline const QString urlKey = settings::chatCompletionsURL.key();
    static Config configFromDefaults(const UserDefaults& defaults);

    explicit GroqClient(QString apiKey);
    GroqClient(QString apiKey, Config config);

    const QString& apiKey() const { return m_apiKey; }
    const QUrl& baseURL() const { return m_config.url; }

    // The completion's content, trimmed; errors: apiError, invalidResponse, parseError, JSON, transport.
    RequestHandle chatCompletion(const QList<ChatMessage>& messages, const QString& model, int maxTokens,
                                 double temperature, TextCompletion done) const override;
    // Each content piece goes to onToken (network thread) as its line arrives; the result is the pieces
    // together, trimmed. Errors: apiError (status, "Stream failed"), transport.
    RequestHandle streamChatCompletion(const QList<ChatMessage>& messages, const QString& model,
                                       int maxTokens, double temperature, TokenHandler onToken,
                                       TextCompletion done) const override;

    // The wire format, exposed for tests and fuzzing.
    static QByteArray requestBody(const QList<ChatMessage>& messages, const QString& model, int maxTokens,
                                  double temperature, bool stream);
    // A plain reply: status and body to the trimmed content or the error.
    static Result<QString> parseCompletion(const HttpResponse& response);
    // One line of a streamed reply.
    struct Ignored {};
    struct EndOfStream {};
    using StreamLine = std::variant<Ignored, EndOfStream, QString>;
    static StreamLine parseStreamLine(QByteArrayView line);

private:
    HttpRequest makeRequest(QByteArray body) const;

    QString m_apiKey;
    Config m_config;
    std::unique_ptr<HttpSession> m_session;
};

} // namespace quenda
