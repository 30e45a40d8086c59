#include "net/QuendaAPIClient.h"

#include "base/Log.h"
#include "base/Settings.h"
#include "base/UserDefaults.h"
#include "net/KeychainStore.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QStringDecoder>
#include <QSysInfo>

#include <functional>

namespace quenda {

namespace {

QUrl parseOrigin(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return {};
    return url;
}

void apiLog(const QString& message)
{
    log("QuendaAPI", message);
}

} // namespace

QuendaAPIClient::QuendaAPIClient(UserDefaults& defaults, KeychainStore& keychain, DictionarySource dictionary)
    : QuendaAPIClient(defaults, keychain, std::move(dictionary), Config())
{}

QuendaAPIClient::QuendaAPIClient(UserDefaults& defaults, KeychainStore& keychain, DictionarySource dictionary,
                                 Config config)
    : m_defaults(defaults)
    , m_keychain(keychain)
    , m_dictionary(std::move(dictionary))
    , m_config(config)
    , m_session(std::make_unique<HttpSession>(config.timeouts))
    , m_supportSession(std::make_unique<HttpSession>(config.supportTimeouts))
{
    QString host = defaults.stringValue(hostKey).value_or(productionOrigin);
    // A loopback host never survives a restart.
    if (host.contains(QLatin1String("localhost"))) {
        host = productionOrigin;
        defaults.setString(hostKey, productionOrigin);
    }
    m_baseURL = parseOrigin(host);
    if (m_baseURL.isEmpty())
        m_baseURL = QUrl(productionOrigin);
    apiLog(QStringLiteral("Using host: ") + host);
}

QuendaAPIClient::~QuendaAPIClient() = default;

std::optional<QString> QuendaAPIClient::authToken() const
{
    QMutexLocker locker(&m_mutex);
    return m_authToken;
}

void QuendaAPIClient::setAuthToken(std::optional<QString> token)
{
    QMutexLocker locker(&m_mutex);
    m_authToken = std::move(token);
}

QUrl QuendaAPIClient::baseURL() const
{
    QMutexLocker locker(&m_mutex);
    return m_baseURL;
}

void QuendaAPIClient::setHost(const QString& host)
{
    const QUrl url = parseOrigin(host);
    if (url.isEmpty())
        return;
    {
        QMutexLocker locker(&m_mutex);
        m_baseURL = url;
    }
    m_defaults.setString(hostKey, host);
}

QString QuendaAPIClient::appVersionString()
{
    static const QString version = [] {
        const QString text = QCoreApplication::applicationVersion();
        return text.isEmpty() ? QStringLiteral("unknown") : text;
    }();
    return version;
}

QUrl QuendaAPIClient::endpoint(const QString& component) const
{
    QUrl url = baseURL();
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + component);
    return url;
}

HttpRequest QuendaAPIClient::makeRequest(const QByteArray& method, const QString& component, bool authorized,
                                         std::optional<QByteArray> body, bool versioned) const
{
    HttpRequest request;
    request.method = method;
    request.url = endpoint(component);
    if (authorized)
        request.headers.append(std::pair<QByteArray, QByteArray>(
            "Authorization", "Bearer " + authToken().value_or(QString()).toUtf8()));
    if (body)
        request.headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "application/json"));
    if (versioned)
        request.headers.append(
            std::pair<QByteArray, QByteArray>("X-Quenda-Version", appVersionString().toUtf8()));
    request.body = std::move(body);
    return request;
}

// MARK: sign-in

RequestHandle QuendaAPIClient::signIn(const QString& email, const QString& name,
                                      std::function<void(Result<QString>)> done)
{
    const QUrl url = endpoint(QStringLiteral("auth/dev-signin"));
    apiLog(QStringLiteral("Sign-in URL: ") + url.toString());
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("email"), email}, {QStringLiteral("name"), name}})
            .toJson(QJsonDocument::Compact);
    HttpRequest request = makeRequest("POST", QStringLiteral("auth/dev-signin"), false, body, false);
    return m_session->send(std::move(request), [this, done = std::move(done)](Result<HttpResponse> result) {
        if (!result.ok()) {
            apiLog(QStringLiteral("Network error: ") + result.error().description());
            done(result.error());
            return;
        }
        const HttpResponse& response = result.value();
        if (response.statusCode == 0) {
            apiLog(QStringLiteral("Not an HTTP response"));
            done(ServiceError::backendAuthFailed());
            return;
        }
        apiLog(QStringLiteral("Status: %1, body: ").arg(response.statusCode) + bodyForLog(response.body));
        if (response.statusCode != 200) {
            done(ServiceError::backendAuthFailed());
            return;
        }
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(response.body, &error);
        if (error.error != QJsonParseError::NoError) {
            done(ServiceError::json(error.errorString()));
            return;
        }
        const QJsonValue token = document.object().value(QLatin1String("token"));
        if (!document.isObject() || !token.isString()) {
            done(ServiceError::backendParse());
            return;
        }
        setAuthToken(token.toString());
        m_keychainWriter.post([this, token = token.toString(), done] {
            m_keychain.save(KeychainStore::authTokenAccount, token);
            done(token);
        });
    });
}

QString QuendaAPIClient::bodyForLog(const QByteArray& body)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(body);
    if (decoder.hasError())
        return QStringLiteral("nil");
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return text;
    // A log may end up in the journal: whatever looks like a credential is cut out of it.
    bool hidden = false;
    const std::function<QJsonValue(const QJsonValue&, bool)> redact = [&](const QJsonValue& value,
                                                                          bool secret) -> QJsonValue {
        if (value.isArray()) {
            QJsonArray array;
            for (const QJsonValue& element : value.toArray())
                array.append(redact(element, secret));
            return array;
        }
        if (value.isObject()) {
            QJsonObject object = value.toObject();
            for (auto it = object.begin(); it != object.end(); ++it) {
                const QString key = it.key().toLower();
                it.value() = redact(it.value(), secret || key.contains(QLatin1String("token")) ||
                                                    key.contains(QLatin1String("secret")) ||
                                                    key.contains(QLatin1String("password")));
            }
            return object;
        }
        if (!secret || value.isNull())
            return value;
        hidden = true;
        return QStringLiteral("[hidden]");
    };
    const QJsonValue redacted =
        redact(document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array()), false);
    if (!hidden)
        return text;
    const QJsonDocument shown =
        redacted.isObject() ? QJsonDocument(redacted.toObject()) : QJsonDocument(redacted.toArray());
    return QString::fromUtf8(shown.toJson(QJsonDocument::Compact));
}

// MARK: clean-up

QByteArray QuendaAPIClient::enhanceBody(const QString& transcript, const std::optional<QString>& appBundleId,
                                        bool speculative, bool stream) const
{
    QJsonObject body{{QStringLiteral("transcript"), transcript}};
    if (stream)
        body.insert(QStringLiteral("stream"), true);
    if (appBundleId)
        body.insert(QStringLiteral("appBundleId"), *appBundleId);
    if (speculative && !stream)
        body.insert(QStringLiteral("speculative"), true);
    const QList<QVariantMap> dictionary = m_dictionary ? m_dictionary() : QList<QVariantMap>();
    if (!dictionary.isEmpty()) {
        QJsonArray list;
        for (const QVariantMap& pair : dictionary)
            list.append(QJsonObject::fromVariantMap(pair));
        body.insert(QStringLiteral("dictionary"), list);
    }
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

Result<QuendaAPIClient::EnhanceReply> QuendaAPIClient::parseEnhanceReply(const QString& transcript,
                                                                         const HttpResponse& response)
{
    if (response.statusCode != 200)
        return ServiceError::backendServer(response.statusCode);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &error);
    if (error.error != QJsonParseError::NoError)
        return ServiceError::json(error.errorString());
    if (!document.isObject())
        return EnhanceReply{transcript, false};
    const QJsonObject object = document.object();
    const QJsonValue enhanced = object.value(QLatin1String("enhanced"));
    const QJsonValue wasEnhanced = object.value(QLatin1String("wasEnhanced"));
    return EnhanceReply{enhanced.isString() ? enhanced.toString() : transcript,
                        wasEnhanced.isBool() ? wasEnhanced.toBool() : false};
}

QuendaAPIClient::StreamLine QuendaAPIClient::parseStreamLine(QByteArrayView line)
{
    const QString text = QString::fromUtf8(line);
    if (!text.startsWith(QLatin1String("data: ")))
        return {};
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.mid(6).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonObject object = document.object();
    StreamLine parsed;
    const QJsonValue token = object.value(QLatin1String("token"));
    if (token.isString())
        parsed.token = token.toString();
    const QJsonValue done = object.value(QLatin1String("done"));
    parsed.done = done.isBool() && done.toBool();
    return parsed;
}

RequestHandle QuendaAPIClient::enhance(const QString& transcript, const std::optional<QString>& appBundleId,
                                       bool speculative, EnhanceCompletion done)
{
    if (!authToken()) {
        done(EnhanceReply{transcript, false});
        return {};
    }
    HttpRequest request = makeRequest("POST", QStringLiteral("enhance"), true,
                                      enhanceBody(transcript, appBundleId, speculative, false), true);
    return m_session->send(std::move(request),
                           [transcript, done = std::move(done)](Result<HttpResponse> result) {
                               if (!result.ok())
                                   done(result.error());
                               else
                                   done(parseEnhanceReply(transcript, result.value()));
                           });
}

RequestHandle QuendaAPIClient::enhanceStreaming(const QString& transcript,
                                                const std::optional<QString>& appBundleId,
                                                TokenHandler onToken, EnhanceCompletion done)
{
    if (!authToken()) {
        done(EnhanceReply{transcript, false});
        return {};
    }
    HttpRequest request = makeRequest("POST", QStringLiteral("enhance"), true,
                                      enhanceBody(transcript, appBundleId, false, true), true);
    auto accumulated = std::make_shared<QString>();
    HttpSession::StreamHandlers handlers;
    handlers.onHead = [](int status) -> std::optional<ServiceError> {
        if (status != 200)
            return ServiceError::backendServer(status);
        return std::nullopt;
    };
    handlers.onLine = [accumulated, onToken = std::move(onToken)](QByteArrayView line) {
        const StreamLine parsed = parseStreamLine(line);
        if (parsed.token) {
            accumulated->append(*parsed.token);
            if (onToken)
                onToken(*parsed.token);
        }
        return !parsed.done;
    };
    handlers.done = [accumulated, done = std::move(done)](std::optional<ServiceError> error) {
        if (error)
            done(*error);
        else
            done(EnhanceReply{accumulated->trimmed(), true});
    };
    return m_session->stream(std::move(request), std::move(handlers));
}

// MARK: usage and training

RequestHandle QuendaAPIClient::fetchUsage(std::function<void(Result<QJsonObject>)> done)
{
    if (!authToken()) {
        done(ServiceError::backendAuthFailed());
        return {};
    }
    HttpRequest request = makeRequest("GET", QStringLiteral("usage"), true, std::nullopt, false);
    return m_session->send(std::move(request), [done = std::move(done)](Result<HttpResponse> result) {
        if (!result.ok()) {
            done(result.error());
            return;
        }
        // The status is not examined: whatever object the server sends is the answer.
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(result.value().body, &error);
        if (error.error != QJsonParseError::NoError)
            done(ServiceError::json(error.errorString()));
        else
            done(document.isObject() ? document.object() : QJsonObject());
    });
}

RequestHandle QuendaAPIClient::uploadTrainingData(const QList<TrainingEntry>& entries,
                                                  std::function<void(Result<Done>)> done)
{
    if (!authToken()) {
        done(ServiceError::backendAuthFailed());
        return {};
    }
    QJsonArray list;
    for (const TrainingEntry& entry : entries)
        list.append(entry.toJson());
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("entries"), list}}).toJson(QJsonDocument::Compact);
    HttpRequest request = makeRequest("POST", QStringLiteral("training-data"), true, body, false);
    return m_session->send(std::move(request), [done = std::move(done)](Result<HttpResponse> result) {
        if (!result.ok())
            done(result.error());
        else if (result.value().statusCode != 200)
            done(ServiceError::backendServer(result.value().statusCode));
        else
            done(Done{});
    });
}

void QuendaAPIClient::uploadTrainingEntries(const QList<TrainingEntry>& entries,
                                            std::function<void(std::optional<QString>)> done)
{
    uploadTrainingData(entries, [done = std::move(done)](Result<Done> result) {
        done(result.ok() ? std::nullopt : std::optional<QString>(result.error().description()));
    });
}

// MARK: support report

QByteArray QuendaAPIClient::supportReportBody(const QString& message, const QString& version,
                                              const QString& build, const QString& os, const QString& name,
                                              const QString& email, bool connected)
{
    const QString diagnostics = QStringLiteral("Quenda v") + version + QStringLiteral(" (") + build +
                                QStringLiteral("), ") + os + QStringLiteral(", Backend: ") +
                                (connected ? QStringLiteral("connected") : QStringLiteral("disconnected"));
    const QJsonObject body{
        {QStringLiteral("message"), message},
        {QStringLiteral("app_version"), version + QStringLiteral(" (") + build + QLatin1Char(')')},
        {QStringLiteral("os_version"), os},
        {QStringLiteral("diagnostics"), diagnostics},
        {QStringLiteral("email"), email},
        {QStringLiteral("name"), name}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

void QuendaAPIClient::sendSupportReport(const QString& message,
                                        std::function<void(SupportReportOutcome)> done)
{
    const QString origin = m_defaults.stringValue(hostKey).value_or(productionOrigin);
    const QUrl url(origin + QStringLiteral("/support"), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        done(SupportReportOutcome{false, QStringLiteral("Could not reach server")});
        return;
    }
    const QString version = QCoreApplication::applicationVersion().isEmpty()
                                ? QStringLiteral("?")
                                : QCoreApplication::applicationVersion();
    const QString build = QStringLiteral(QUENDA_VERSION);
    const QString os = QSysInfo::prettyProductName();
    const QString name =
        m_defaults.stringValue(settings::userName.key()).value_or(QStringLiteral("anonymous"));
    const QString email =
        m_defaults.stringValue(settings::userEmail.key()).value_or(QStringLiteral("anonymous"));
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.headers = {{"Content-Type", "application/json"}};
    request.body = supportReportBody(message, version, build, os, name, email, authToken().has_value());
    m_supportSession->send(std::move(request), [done = std::move(done)](Result<HttpResponse> result) {
        if (!result.ok())
            done(SupportReportOutcome{false, result.error().description()});
        else if (result.value().statusCode == 200)
            done(SupportReportOutcome{true, {}});
        else
            done(SupportReportOutcome{false, QString::fromUtf8("Failed to send \u2014 try again later")});
    });
}

} // namespace quenda
