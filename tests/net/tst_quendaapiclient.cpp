#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/LogCapture.h"
#include "fakes/ScriptedSecretStore.h"
#include "fakes/Waiting.h"
#include "net/KeychainStore.h"
#include "net/QuendaAPIClient.h"
#include "text/PersonalDictionary.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

// A backend client over a temporary store, pointed at a loopback server.
struct Rig {
    QTemporaryDir dir;
    VirtualScheduler clock;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    KeychainStore keychain;
    PersonalDictionary dictionary{defaults, clock};
    FakeHttpServer server;
    LogCapture logs;
    std::unique_ptr<QuendaAPIClient> client;

    explicit Rig(bool signedIn = true, SecretStore* secretService = nullptr)
        : keychain(secretService, dir.filePath(QStringLiteral("secrets.json")))
    {
        defaults.setString(QuendaAPIClient::hostKey, server.origin());
        QuendaAPIClient::Config config;
        config.timeouts = {2000, 4000};
        config.supportTimeouts = {2000, 0};
        client = std::make_unique<QuendaAPIClient>(
            defaults, keychain, [this] { return dictionary.requestDictionary(); }, config);
        if (signedIn)
            client->setAuthToken(QStringLiteral("tok-123"));
    }

    template <typename T, typename Call>
    T await(Call call)
    {
        Captured<T> result;
        call(result.setter());
        if (!result.wait())
            qFatal("no completion");
        return result.value();
    }
    Result<QuendaAPIClient::EnhanceReply> enhance(const QString& text, std::optional<QString> app = {},
                                                  bool speculative = false)
    {
        return await<Result<QuendaAPIClient::EnhanceReply>>(
            [&](auto done) { client->enhance(text, app, speculative, done); });
    }
    Result<QuendaAPIClient::EnhanceReply>
    enhanceStreaming(const QString& text, std::optional<QString> app = {}, CapturedPieces* pieces = nullptr)
    {
        return await<Result<QuendaAPIClient::EnhanceReply>>([&](auto done) {
            client->enhanceStreaming(text, app, pieces ? pieces->handler() : decltype(pieces->handler()){},
                                     done);
        });
    }
};

QuendaAPIClient::EnhanceReply reply(const char* text, bool wasEnhanced)
{
    return {QString::fromUtf8(text), wasEnhanced};
}

} // namespace

class TestQuendaAPIClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3")); }
    void enhanceSendsOnlyTheMembersThatApply();
    void enhanceReplies_data();
    void enhanceReplies();
    void streamedEnhance();
    void signIn_data();
    void signIn();
    void aSlowKeyringHoldsUpNoOtherRequest();
    void supportReport();
    void trainingUploadSendsTheLogObjects();
};

void TestQuendaAPIClient::enhanceSendsOnlyTheMembersThatApply()
{
    Rig rig;
    rig.server.setHandler([](const RecordedRequest&) { return FakeReply::json(200, QJsonObject{}); });
    rig.enhance(QStringLiteral("one"));
    rig.dictionary.addEntry(QStringLiteral("jason"), QStringLiteral("JSON"));
    rig.enhance(QStringLiteral("two"), QStringLiteral("com.slack"), true);
    rig.enhanceStreaming(QStringLiteral("three"), QStringLiteral("org.app"));

    const QList<RecordedRequest> requests = rig.server.requests();
    QCOMPARE(requests.size(), 3);
    for (const RecordedRequest& request : requests) {
        QCOMPARE(request.method + ' ' + request.path, QByteArray("POST /enhance"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-123"));
    }
    QCOMPARE(requests[0].json(), (QJsonObject{{QStringLiteral("transcript"), QStringLiteral("one")}}));
    const QJsonArray dictionary{QJsonObject{{QStringLiteral("misheard"), QStringLiteral("jason")},
                                            {QStringLiteral("correct"), QStringLiteral("JSON")}}};
    QCOMPARE(requests[1].json(), (QJsonObject{{QStringLiteral("transcript"), QStringLiteral("two")},
                                              {QStringLiteral("appBundleId"), QStringLiteral("com.slack")},
                                              {QStringLiteral("speculative"), true},
                                              {QStringLiteral("dictionary"), dictionary}}));
    QCOMPARE(requests[2].json(), (QJsonObject{{QStringLiteral("transcript"), QStringLiteral("three")},
                                              {QStringLiteral("stream"), true},
                                              {QStringLiteral("appBundleId"), QStringLiteral("org.app")},
                                              {QStringLiteral("dictionary"), dictionary}}));
}

void TestQuendaAPIClient::enhanceReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("wasEnhanced");
    QTest::addColumn<QString>("error");
    QTest::newRow("full") << 200 << QByteArray(R"({"enhanced":"Clean.","wasEnhanced":true})")
                          << QStringLiteral("Clean.") << true << QString();
    QTest::newRow("wrong types") << 200 << QByteArray(R"({"enhanced":1,"wasEnhanced":"yes"})")
                                 << QStringLiteral("raw words") << false << QString();
    QTest::newRow("500") << 500 << QByteArray(R"({"enhanced":"x"})") << QString() << false
                         << QStringLiteral("Server error (500)");
    QTest::newRow("not JSON") << 200 << QByteArray("<html>") << QString() << false << QStringLiteral("json");
}

void TestQuendaAPIClient::enhanceReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    QFETCH(bool, wasEnhanced);
    QFETCH(QString, error);
    Rig rig;
    rig.server.enqueue(FakeReply::json(status, body));
    const auto result = rig.enhance(QStringLiteral("raw words"));
    if (error.isEmpty()) {
        QCOMPARE(result.value(), (QuendaAPIClient::EnhanceReply{text, wasEnhanced}));
        return;
    }
    const bool json = result.error().kind() == ServiceError::Kind::Json;
    QCOMPARE(json ? QStringLiteral("json") : result.error().description(), error);
    if (!json)
        QCOMPARE(result.error().statusCode(), status);
}

void TestQuendaAPIClient::streamedEnhance()
{
    Rig rig;
    rig.server.enqueue(FakeReply::events({
        wire::backendToken(QStringLiteral("Hel")) + "\n\n",
        "event: ping\n\n",
        "data: not json\n\n",
        "data: [\"array\"]\n\n",
        "data: {\"done\":\"yes\"}\n\n",
        wire::backendToken(QStringLiteral("lo ")) + "\n\n",
        "data: {\"done\":true}\n\n",
        wire::backendToken(QStringLiteral("never")) + "\n\n",
    }));
    CapturedPieces pieces;
    QCOMPARE(rig.enhanceStreaming(QStringLiteral("hello"), {}, &pieces).value(), reply("Hello", true));
    QCOMPARE(pieces.pieces(), (QStringList{QStringLiteral("Hel"), QStringLiteral("lo ")}));

    // Without [DONE], and refused. (A stream broken off is the HTTP session's: the Groq client's tests.)
    FakeReply noDone = FakeReply::events({wire::backendToken(QStringLiteral(" Partial ")) + "\n\n"});
    rig.server.enqueue(noDone);
    FakeReply refused = FakeReply::events({wire::backendToken(QStringLiteral("x")) + "\n\n"});
    refused.status = 429;
    rig.server.enqueue(refused);
    CapturedPieces second;
    QCOMPARE(rig.enhanceStreaming(QStringLiteral("t")).value(), reply("Partial", true));
    QCOMPARE(rig.enhanceStreaming(QStringLiteral("t"), {}, &second).error(),
             ServiceError::backendServer(429));
    QVERIFY(second.pieces().isEmpty());
}

void TestQuendaAPIClient::signIn_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("outcome"); // the token, or the error's description
    QTest::addColumn<QString>("logged");  // the body as the log line shows it
    QTest::newRow("ok") << QByteArray(R"({"token":"fresh\/token","user":{"name":"Ada"}})")
                        << QStringLiteral("fresh/token")
                        << QStringLiteral(R"({"token":"[hidden]","user":{"name":"Ada"}})");
    QTest::newRow("no token") << QByteArray(R"({"user":"x","refresh_token":["r1"]})")
                              << QStringLiteral("Could not parse server response")
                              << QStringLiteral(R"({"refresh_token":["[hidden]"],"user":"x"})");
}

void TestQuendaAPIClient::signIn()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, outcome);
    QFETCH(QString, logged);
    Rig rig(false);
    rig.server.enqueue(FakeReply::json(200, body));
    const auto result = rig.await<Result<QString>>([&](auto done) {
        rig.client->signIn(QStringLiteral("ada@example.org"), QStringLiteral("Ada"), done);
    });
    QCOMPARE(rig.server.requests().first().json().value(QLatin1String("email")),
             QJsonValue(QStringLiteral("ada@example.org")));
    QCOMPARE(rig.logs.linesWith(QStringLiteral("[QuendaAPI] Status: ")),
             QStringList{QStringLiteral("[QuendaAPI] Status: 200, body: ") + logged});
    const auto token = result.ok() ? std::optional<QString>(outcome) : std::nullopt; // stored only when given
    QCOMPARE(result.ok() ? result.value() : result.error().description(), outcome);
    QCOMPARE(rig.client->authToken(), token);
    QCOMPARE(rig.keychain.read(KeychainStore::authTokenAccount), token);
}

void TestQuendaAPIClient::aSlowKeyringHoldsUpNoOtherRequest()
{
    ScriptedSecretStore keyring;
    keyring.holdWrites = true;
    Rig rig(false, &keyring);
    rig.server.enqueue(FakeReply::json(200, QByteArray(R"({"token":"t1"})")));
    Captured<Result<QString>> signedIn;
    rig.client->signIn(QStringLiteral("ada@example.org"), QStringLiteral("Ada"), signedIn.setter());
    QVERIFY(waitUntil([&] { return keyring.writes.loadRelaxed() == 1; }));

    // While the keyring takes its time, the network goes on serving.
    rig.server.enqueue(FakeReply::json(200, QByteArray(R"({"enhanced":"Hi.","wasEnhanced":true})")));
    Captured<Result<QuendaAPIClient::EnhanceReply>> enhanced;
    rig.client->enhance(QStringLiteral("hi"), std::nullopt, false, enhanced.setter());
    const bool served = enhanced.wait(5000);
    QVERIFY(!signedIn.wait(0)); // signed in only once the token is stored
    keyring.holdWrites = false;
    QVERIFY(served);
    QCOMPARE(enhanced.value().value(), reply("Hi.", true));
    QVERIFY(signedIn.wait());
    QCOMPARE(signedIn.value().value(), QStringLiteral("t1"));
}

// (A report refused by the server: the report form's tests.)
void TestQuendaAPIClient::supportReport()
{
    Rig rig;
    rig.defaults.setString(QStringLiteral("userName"), QStringLiteral("Ada"));
    rig.server.enqueue(FakeReply::json(200, QByteArray("{}")));
    auto send = [&](const QString& message) {
        return rig.await<QuendaAPIClient::SupportReportOutcome>(
            [&](auto done) { rig.client->sendSupportReport(message, done); });
    };
    QVERIFY(send(QStringLiteral("help")).submitted);
    const QJsonObject body = rig.server.requests().first().json();
    QCOMPARE(body.value(QLatin1String("message")), QJsonValue(QStringLiteral("help")));
    QCOMPARE(body.value(QLatin1String("name")), QJsonValue(QStringLiteral("Ada")));

    rig.defaults.setString(QuendaAPIClient::hostKey, QStringLiteral("%%%"));
    QCOMPARE(send(QStringLiteral("x")).message, QStringLiteral("Could not reach server"));
}

void TestQuendaAPIClient::trainingUploadSendsTheLogObjects()
{
    // The backend takes {"entries": [...]} of the log's own objects: optional members only when present.
    Rig rig;
    rig.server.enqueue(FakeReply::json(200, QByteArray("{}")));
    const TrainingEntry plain{QStringLiteral("r"), QStringLiteral("e"), {}, QStringLiteral("t"), {}, {}, {}};
    const TrainingEntry full{QStringLiteral("r"),   QStringLiteral("e"),   QStringLiteral("org.app"),
                             QStringLiteral("t"),   QStringLiteral("bad"), QStringLiteral("c"),
                             QStringLiteral("note")};
    const auto sent = rig.await<Result<Done>>([&](auto done) {
        rig.client->uploadTrainingData({plain, full}, done);
    });
    QVERIFY(sent.ok());
    const RecordedRequest request = rig.server.requests().first();
    QCOMPARE(request.method + ' ' + request.path, QByteArray("POST /training-data"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-123"));
    const QJsonArray entries = request.json().value(QLatin1String("entries")).toArray();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0].toObject().keys(),
             (QStringList{QStringLiteral("enhanced"), QStringLiteral("raw"), QStringLiteral("timestamp")}));
    QCOMPARE(entries[1].toObject().size(), 7);
}

QTEST_GUILESS_MAIN(TestQuendaAPIClient)
#include "tst_quendaapiclient.moc"
