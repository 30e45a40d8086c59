#include "net/GroqClient.h"

#include "base/UserDefaults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

namespace quenda {

namespace {
QString trimmed(const QString& text)
{
    return text.trimmed();
}

// choices[0].<member>.content as a string, when every step is there.
std::optional<QString> firstChoiceContent(const QJsonDocument& document, const QString& member)
{
    if (!document.isObject())
        return std::nullopt;
    const QJsonValue choices = document.object().value(QLatin1String("choices"));
    if (!choices.isArray() || choices.toArray().isEmpty())
        return std::nullopt;
    const QJsonValue first = choices.toArray().first();
    if (!first.isObject())
        return std::nullopt;
    const QJsonValue holder = first.toObject().value(member);
    if (!holder.isObject())
        return std::nullopt;
    const QJsonValue content = holder.toObject().value(QLatin1String("content"));
    if (!content.isString())
        return std::nullopt;
    return content.toString();
}
} // namespace

QUrl GroqClient::defaultURL()
{
    return QUrl(QStringLiteral("https://api.groq.com/openai/v1/chat/completions"));
}

GroqClient::Config GroqClient::configFromDefaults(const UserDefaults& defaults)
{
    Config config;
    if (const std::optional<QString> text = defaults.stringValue(urlKey)) {
        const QUrl url(text->trimmed(), QUrl::StrictMode);
        if (url.isValid() &&
            (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http")) &&
            !url.host().isEmpty())
            config.url = url;
    }
    return config;
}

GroqClient::GroqClient(QString apiKey)
    : GroqClient(std::move(apiKey), Config())
{}

GroqClient::GroqClient(QString apiKey, Config config)
    : m_apiKey(std::move(apiKey))
    , m_config(std::move(config))
    , m_session(std::make_unique<HttpSession>(m_config.timeouts))
{}

QByteArray GroqClient::requestBody(const QList<ChatMessage>& messages, const QString& model, int maxTokens,
                                   double temperature, bool stream)
{
    QJsonArray list;
    for (const ChatMessage& message : messages)
        list.append(QJsonObject{{QStringLiteral("role"), message.role},
                                {QStringLiteral("content"), message.content}});
    const QJsonObject body{{QStringLiteral("model"), model},
                           {QStringLiteral("messages"), list},
                           {QStringLiteral("temperature"), temperature},
                           {QStringLiteral("max_tokens"), maxTokens},
                           {QStringLiteral("stream"), stream}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

HttpRequest GroqClient::makeRequest(QByteArray body) const
{
    HttpRequest request;
    request.method = "POST";
    request.url = m_config.url;
    request.headers = {{"Authorization", "Bearer " + m_apiKey.toUtf8()},
                       {"Content-Type", "application/json"}};
    request.body = std::move(body);
    return request;
}

Result<QString> GroqClient::parseCompletion(const HttpResponse& response)
{
    if (response.statusCode == 0)
        return ServiceError::groqInvalidResponse();
    if (response.statusCode != 200) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        QString message = decoder(response.body);
        if (decoder.hasError())
            message = QStringLiteral("Unknown error");
        return ServiceError::groqApi(response.statusCode, message);
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &error);
    if (error.error != QJsonParseError::NoError)
        return ServiceError::json(error.errorString());
    if (const std::optional<QString> content = firstChoiceContent(document, QStringLiteral("message")))
        return trimmed(*content);
    return ServiceError::groqParse();
}

GroqClient::StreamLine GroqClient::parseStreamLine(QByteArrayView line)
{
    // Lines are text: the bytes read as UTF-8 (a broken sequence becomes a replacement character).
    const QString text = QString::fromUtf8(line);
    if (!text.startsWith(QLatin1String("data: ")))
        return Ignored{};
    const QString payload = text.mid(6);
    if (payload == QLatin1String("[DONE]"))
        return EndOfStream{};
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(payload.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return Ignored{};
    if (std::optional<QString> content = firstChoiceContent(document, QStringLiteral("delta")))
        return std::move(*content);
    return Ignored{};
}

RequestHandle GroqClient::chatCompletion(const QList<ChatMessage>& messages, const QString& model,
                                         int maxTokens, double temperature, TextCompletion done) const
{
    HttpRequest request = makeRequest(requestBody(messages, model, maxTokens, temperature, false));
    return m_session->send(std::move(request), [done = std::move(done)](Result<HttpResponse> result) {
        if (!result.ok()) {
            done(result.error());
            return;
        }
        done(parseCompletion(result.value()));
    });
}

RequestHandle GroqClient::streamChatCompletion(const QList<ChatMessage>& messages, const QString& model,
                                               int maxTokens, double temperature, TokenHandler onToken,
                                               TextCompletion done) const
{
    HttpRequest request = makeRequest(requestBody(messages, model, maxTokens, temperature, true));
    // The handlers all run on the network thread, one after another: the accumulator needs no lock.
    auto accumulated = std::make_shared<QString>();
    HttpSession::StreamHandlers handlers;
    handlers.onHead = [](int status) -> std::optional<ServiceError> {
        if (status != 200)
            return ServiceError::groqApi(status, QStringLiteral("Stream failed"));
        return std::nullopt;
    };
    handlers.onLine = [accumulated, onToken = std::move(onToken)](QByteArrayView line) {
        StreamLine parsed = parseStreamLine(line);
        if (std::holds_alternative<EndOfStream>(parsed))
            return false;
        if (const QString* piece = std::get_if<QString>(&parsed)) {
            accumulated->append(*piece);
            if (onToken)
                onToken(*piece);
        }
        return true;
    };
    handlers.done = [accumulated, done = std::move(done)](std::optional<ServiceError> error) {
        if (error)
            done(*error);
        else
            done(trimmed(*accumulated));
    };
    return m_session->stream(std::move(request), std::move(handlers));
}

} // namespace quenda
