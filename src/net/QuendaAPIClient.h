#pragma once

#include "base/Settings.h"
#include "base/WorkerThread.h"
#include "net/EnhanceClient.h"
#include "net/HttpSession.h"
#include "training/TrainingUploader.h"

#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace quenda {

class KeychainStore;
class UserDefaults;

// The product's own backend: sign-in, clean-up (plain and streamed), usage, training upload, and the
// support report's request. One process-wide instance; signed in means authToken() is present. Completions
// arrive on the network thread, or at once on the caller's thread when no request is needed.
class QuendaAPIClient final : public TrainingUploader, public EnhanceClient {
public:
    static inline const QString productionOrigin = QStringLiteral("https://api.quenda.app");
    static inline const QString hostKey = settings::backendHost.key();

    struct Config {
        HttpSession::Timeouts timeouts{15000, 30000}; // 15 s without data, 30 s for the whole exchange
        HttpSession::Timeouts supportTimeouts{10000, 0};
    };

    // The user's word corrections as the enhance requests send them: one {"misheard","correct"} map each.
    using DictionarySource = std::function<QList<QVariantMap>()>;

    // Reads the stored host (a "localhost" host is replaced by the production origin, also in the store).
    QuendaAPIClient(UserDefaults& defaults, KeychainStore& keychain, DictionarySource dictionary);
    QuendaAPIClient(UserDefaults& defaults, KeychainStore& keychain, DictionarySource dictionary,
                    Config config);
    ~QuendaAPIClient() override;

    std::optional<QString> authToken() const override;
    void setAuthToken(std::optional<QString> token) override;
    QUrl baseURL() const;
    // A string that parses as a URL becomes the origin and is stored; anything else changes nothing.
    void setHost(const QString& host);

    // The application's version, "unknown" when it has none.
    static QString appVersionString();

    // The token is stored in the keyring before `done` is called (off the network thread); the log line of
    // the reply shows the body with every token in it cut out.
    RequestHandle signIn(const QString& email, const QString& name,
                         std::function<void(Result<QString>)> done);
    // The reply body as the sign-in's log line shows it: the values of token and secret members hidden.
    static QString bodyForLog(const QByteArray& body);
    RequestHandle enhance(const QString& transcript, const std::optional<QString>& appBundleId,
                          bool speculative, EnhanceCompletion done) override;
    RequestHandle enhanceStreaming(const QString& transcript, const std::optional<QString>& appBundleId,
                                   TokenHandler onToken, EnhanceCompletion done) override;
    RequestHandle fetchUsage(std::function<void(Result<QJsonObject>)> done);
    RequestHandle uploadTrainingData(const QList<TrainingEntry>& entries,
                                     std::function<void(Result<Done>)> done);

    // TrainingUploader
    bool hasAuthToken() const override { return authToken().has_value(); }
    void uploadTrainingEntries(const QList<TrainingEntry>& entries,
                               std::function<void(std::optional<QString>)> done) override;

    // The problem report of the report form: POST origin + "/support", no authorisation.
    struct SupportReportOutcome {
        bool submitted = false;
        QString message; // what the form shows when not submitted
    };
    void sendSupportReport(const QString& message, std::function<void(SupportReportOutcome)> done);
    static QByteArray supportReportBody(const QString& message, const QString& version, const QString& build,
                                        const QString& os, const QString& name, const QString& email,
                                        bool connected);

    // The wire format, exposed for tests and fuzzing.
    QByteArray enhanceBody(const QString& transcript, const std::optional<QString>& appBundleId,
                           bool speculative, bool stream) const;
    static Result<EnhanceReply> parseEnhanceReply(const QString& transcript, const HttpResponse& response);
    struct StreamLine {
        std::optional<QString> token;
        bool done = false;
    };
    static StreamLine parseStreamLine(QByteArrayView line);
    // baseURL with a path component appended.
    QUrl endpoint(const QString& component) const;

private:
    HttpRequest makeRequest(const QByteArray& method, const QString& component, bool authorized,
                            std::optional<QByteArray> body, bool versioned) const;

    UserDefaults& m_defaults;
    KeychainStore& m_keychain;
    DictionarySource m_dictionary;
    Config m_config;
    std::unique_ptr<HttpSession> m_session;
    std::unique_ptr<HttpSession> m_supportSession;
    mutable QMutex m_mutex; // guards the two fields below, written on the main thread, read by requests
    QUrl m_baseURL;
    std::optional<QString> m_authToken;
    // The secret store may take seconds to answer: its writes wait here, never on the network thread.
    // Declared last, so that a write still queued finishes before the rest goes.
    WorkerThread m_keychainWriter{QStringLiteral("com.quenda.keychain")};
};

} // namespace quenda
