#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/LogCapture.h"
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
    KeychainStore keychain{nullptr, dir.filePath(QStringLiteral("secrets.json"))};
    PersonalDictionary dictionary{defaults, clock};
    FakeHttpServer server;
    LogCapture logs;
    std::unique_ptr<QuendaAPIClient> client;

    explicit Rig(bool signedIn = true)
    {
        defaults.setString(QuendaAPIClient::hostKey, server.origin());
        QuendaAPIClient::Config config;
        config.timeouts = {2000, 4000};
        config.supportTimeouts = {2000, 0};
        client = std::make_unique<QuendaAPIClient>(defaults, keychain, dictionary, config);
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
};

using EnhanceResult = Result<QuendaAPIClient::EnhanceReply>;

} // namespace

class TestQuendaAPIClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3")); }
    void hostComesFromTheDefaultsWithoutLocalhost();
    void setHostTakesOnlyURLs();
    void enhanceWithoutTokenMakesNoRequest();
    void enhanceSendsOnlyTheMembersThatApply();
    void enhanceReplies_data();
    void enhanceReplies();
    void streamedEnhanceHandsOnTokens();
    void streamedEnhanceWithoutDoneAndWithErrors();
    void usageReturnsAnyObject();
    void trainingUploadSendsTheLogObjects();
    void signIn_data();
    void signIn();
    void supportReport();
};

void TestQuendaAPIClient::hostComesFromTheDefaultsWithoutLocalhost()
{
    QTemporaryDir dir;
    VirtualScheduler clock;
    UserDefaults defaults(dir.filePath(QStringLiteral("Quenda.conf")));
    KeychainStore keychain(nullptr, dir.filePath(QStringLiteral("s.json")));
    PersonalDictionary dictionary(defaults, clock);
    LogCapture logs;
    {
        QuendaAPIClient client(defaults, keychain, dictionary);
        QCOMPARE(client.baseURL(), QUrl(QStringLiteral("https://api.quenda.app")));
        QVERIFY(!defaults.contains(QuendaAPIClient::hostKey));
        QVERIFY(!client.authToken());
    }
    defaults.setString(QuendaAPIClient::hostKey, QStringLiteral("http://localhost:8787"));
    {
        QuendaAPIClient client(defaults, keychain, dictionary);
        QCOMPARE(client.baseURL(), QUrl(QuendaAPIClient::productionOrigin));
        QCOMPARE(defaults.stringValue(QuendaAPIClient::hostKey), QuendaAPIClient::productionOrigin);
    }
    defaults.setString(QuendaAPIClient::hostKey, QStringLiteral("http://127.0.0.1:9/base"));
    {
        QuendaAPIClient client(defaults, keychain, dictionary);
        QCOMPARE(client.endpoint(QStringLiteral("enhance")).toString(),
                 QStringLiteral("http://127.0.0.1:9/base/enhance"));
    }
    defaults.setString(QuendaAPIClient::hostKey, QStringLiteral("::not a url::"));
    QuendaAPIClient client(defaults, keychain, dictionary);
    QCOMPARE(client.baseURL(), QUrl(QuendaAPIClient::productionOrigin));
    QCOMPARE(logs.linesWith(QStringLiteral("[QuendaAPI] Using host: ")).value(1),
             QStringLiteral("[QuendaAPI] Using host: https://api.quenda.app"));
}

void TestQuendaAPIClient::setHostTakesOnlyURLs()
{
    Rig rig;
    rig.client->setHost(QStringLiteral("http://localhost:1234"));
    QCOMPARE(rig.client->baseURL(),
             QUrl(QStringLiteral("http://localhost:1234"))); // works until the next start
    QCOMPARE(rig.defaults.stringValue(QuendaAPIClient::hostKey), QStringLiteral("http://localhost:1234"));
    rig.client->setHost(QStringLiteral("no scheme at all"));
    QCOMPARE(rig.client->baseURL(), QUrl(QStringLiteral("http://localhost:1234")));
}

void TestQuendaAPIClient::enhanceWithoutTokenMakesNoRequest()
{
    Rig rig(false);
    const auto plain = rig.await<EnhanceResult>(
        [&](auto done) { rig.client->enhance(QStringLiteral("raw"), std::nullopt, false, done); });
    QCOMPARE(plain.value(), (QuendaAPIClient::EnhanceReply{QStringLiteral("raw"), false}));
    const auto streamed = rig.await<EnhanceResult>(
        [&](auto done) { rig.client->enhanceStreaming(QStringLiteral("raw"), std::nullopt, {}, done); });
    QCOMPARE(streamed.value(), (QuendaAPIClient::EnhanceReply{QStringLiteral("raw"), false}));
    const auto usage = rig.await<Result<QJsonObject>>([&](auto done) { rig.client->fetchUsage(done); });
    QCOMPARE(usage.error().description(), QStringLiteral("Not authenticated with Quenda backend"));
    const auto upload = rig.await<Result<Done>>([&](auto done) { rig.client->uploadTrainingData({}, done); });
    QCOMPARE(upload.error(), ServiceError::backendAuthFailed());
    QCOMPARE(rig.server.requestCount(), 0);
}

void TestQuendaAPIClient::enhanceSendsOnlyTheMembersThatApply()
{
    Rig rig;
    rig.server.setHandler([](const RecordedRequest&) { return FakeReply::json(200, QJsonObject{}); });
    rig.await<EnhanceResult>(
        [&](auto done) { rig.client->enhance(QStringLiteral("one"), std::nullopt, false, done); });
    rig.dictionary.addEntry(QStringLiteral("jason"), QStringLiteral("JSON"));
    rig.await<EnhanceResult>([&](auto done) {
        rig.client->enhance(QStringLiteral("two"), QStringLiteral("com.slack"), true, done);
    });
    rig.await<EnhanceResult>([&](auto done) {
        rig.client->enhanceStreaming(QStringLiteral("three"), QStringLiteral("org.app"), {}, done);
    });

    const QList<RecordedRequest> requests = rig.server.requests();
    QCOMPARE(requests.size(), 3);
    for (const RecordedRequest& request : requests) {
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/enhance"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-123"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("X-Quenda-Version"), QByteArray("1.2.3"));
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
    QTest::newRow("flag only") << 200 << QByteArray(R"({"wasEnhanced": true})") << QStringLiteral("raw words")
                               << true << QString();
    QTest::newRow("array") << 200 << QByteArray("[1,2]") << QStringLiteral("raw words") << false << QString();
    QTest::newRow("wrong types") << 200 << QByteArray(R"({"enhanced":1,"wasEnhanced":"yes"})")
                                 << QStringLiteral("raw words") << false << QString();
    QTest::newRow("500") << 500 << QByteArray(R"({"enhanced":"x"})") << QString() << false
                         << QStringLiteral("Server error (500)");
    QTest::newRow("401") << 401 << QByteArray("nope") << QString() << false
                         << QStringLiteral("Server error (401)");
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
    const auto result = rig.await<EnhanceResult>(
        [&](auto done) { rig.client->enhance(QStringLiteral("raw words"), std::nullopt, false, done); });
    if (error.isEmpty()) {
        QCOMPARE(result.value(), (QuendaAPIClient::EnhanceReply{text, wasEnhanced}));
    } else if (error == QLatin1String("json")) {
        QCOMPARE(result.error().kind(), ServiceError::Kind::Json);
    } else {
        QCOMPARE(result.error().description(), error);
        QCOMPARE(result.error().statusCode(), status);
    }
}

void TestQuendaAPIClient::streamedEnhanceHandsOnTokens()
{
    Rig rig;
    rig.server.enqueue(FakeReply::events({
        wire::backendToken(QStringLiteral("Hel")) + "\n\n",
        ": comment\n",
        "event: ping\n\n",
        "data: not json\n\n",
        "data: [\"array\"]\n\n",
        "data: {\"done\":\"yes\"}\n\n",
        wire::backendToken(QStringLiteral("lo ")) + "\n\n",
        wire::backendDone() + "\n\n",
        wire::backendToken(QStringLiteral("never")) + "\n\n",
    }));
    CapturedPieces pieces;
    const auto result = rig.await<EnhanceResult>([&](auto done) {
        rig.client->enhanceStreaming(QStringLiteral("hello"), std::nullopt, pieces.handler(), done);
    });
    QCOMPARE(pieces.pieces(), (QStringList{QStringLiteral("Hel"), QStringLiteral("lo ")}));
    QCOMPARE(result.value(), (QuendaAPIClient::EnhanceReply{QStringLiteral("Hello"), true}));
}

void TestQuendaAPIClient::streamedEnhanceWithoutDoneAndWithErrors()
{
    Rig rig;
    FakeReply noDone = FakeReply::events({wire::backendToken(QStringLiteral(" Partial ")) + "\n\n"});
    rig.server.enqueue(noDone);
    FakeReply refused = wire::backendStream({QStringLiteral("x")});
    refused.status = 429;
    rig.server.enqueue(refused);
    FakeReply broken = FakeReply::events({wire::backendToken(QStringLiteral("a")) + "\n\n", "data: {\"tok"});
    broken.framing = FakeReply::Framing::ContentLength; // announces more than it sends
    broken.headers.append(std::pair<QByteArray, QByteArray>("Content-Length", "4096"));
    broken.ending = FakeReply::Ending::Disconnect;
    rig.server.enqueue(broken);

    auto run = [&](CapturedPieces& pieces) {
        return rig.await<EnhanceResult>([&](auto done) {
            rig.client->enhanceStreaming(QStringLiteral("t"), std::nullopt, pieces.handler(), done);
        });
    };
    CapturedPieces first, second, third;
    QCOMPARE(run(first).value(), (QuendaAPIClient::EnhanceReply{QStringLiteral("Partial"), true}));
    const auto refusedResult = run(second);
    QCOMPARE(refusedResult.error(), ServiceError::backendServer(429));
    QVERIFY(second.pieces().isEmpty());
    const auto brokenResult = run(third);
    QCOMPARE(brokenResult.error().kind(), ServiceError::Kind::Transport);
    QCOMPARE(third.pieces(), QStringList{QStringLiteral("a")});
}

void TestQuendaAPIClient::usageReturnsAnyObject()
{
    Rig rig;
    rig.server.enqueue(FakeReply::json(500, QJsonObject{{QStringLiteral("total_words"), 1200}}));
    rig.server.enqueue(FakeReply::json(200, QByteArray("[]")));
    rig.server.enqueue(FakeReply::text(200, "plain text"));
    const auto first = rig.await<Result<QJsonObject>>([&](auto done) { rig.client->fetchUsage(done); });
    QCOMPARE(first.value().value(QLatin1String("total_words")).toInt(), 1200);
    const auto second = rig.await<Result<QJsonObject>>([&](auto done) { rig.client->fetchUsage(done); });
    QVERIFY(second.value().isEmpty());
    const auto third = rig.await<Result<QJsonObject>>([&](auto done) { rig.client->fetchUsage(done); });
    QCOMPARE(third.error().kind(), ServiceError::Kind::Json);
    const RecordedRequest request = rig.server.requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.path, QByteArray("/usage"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-123"));
    QVERIFY(request.header("X-Quenda-Version").isEmpty());
}

void TestQuendaAPIClient::trainingUploadSendsTheLogObjects()
{
    Rig rig;
    rig.server.enqueue(FakeReply::json(200, QByteArray("whatever")));
    rig.server.enqueue(FakeReply::json(503, QByteArray("{}")));
    TrainingEntry plain{
        QStringLiteral("r"), QStringLiteral("e"), std::nullopt, QStringLiteral("2026-12-06T11:44:48Z"),
        std::nullopt,        std::nullopt,        std::nullopt};
    TrainingEntry full = plain;
    full.app = QStringLiteral("org.app");
    full.feedback = QStringLiteral("bad");
    full.correction = QStringLiteral("c");
    full.context = QStringLiteral("note");
    const auto ok = rig.await<Result<Done>>([&](auto done) {
        rig.client->uploadTrainingData({plain, full}, done);
    });
    QVERIFY(ok.ok());
    const auto failed =
        rig.await<Result<Done>>([&](auto done) { rig.client->uploadTrainingData({plain}, done); });
    QCOMPARE(failed.error().description(), QStringLiteral("Server error (503)"));

    const RecordedRequest request = rig.server.requests().first();
    QCOMPARE(request.path, QByteArray("/training-data"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-123"));
    const QJsonArray entries = request.json().value(QLatin1String("entries")).toArray();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0].toObject().keys(),
             (QStringList{QStringLiteral("enhanced"), QStringLiteral("raw"), QStringLiteral("timestamp")}));
    QCOMPARE(entries[1].toObject().size(), 7);
    QCOMPARE(request.json().size(), 1);
}

void TestQuendaAPIClient::signIn_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("outcome"); // the token, or the error's description
    QTest::newRow("ok") << 200 << QByteArray(R"({"token":"fresh-token"})") << QStringLiteral("fresh-token");
    QTest::newRow("403") << 403 << QByteArray(R"({"error":"nope"})")
                         << QStringLiteral("Not authenticated with Quenda backend");
    QTest::newRow("no token") << 200 << QByteArray(R"({"user":"x"})")
                              << QStringLiteral("Could not parse server response");
    QTest::newRow("array") << 200 << QByteArray(R"(["token"])")
                           << QStringLiteral("Could not parse server response");
    QTest::newRow("not JSON") << 200 << QByteArray("nope") << QStringLiteral("json");
}

void TestQuendaAPIClient::signIn()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, outcome);
    Rig rig(false);
    rig.server.enqueue(FakeReply::json(status, body));
    const auto result = rig.await<Result<QString>>([&](auto done) {
        rig.client->signIn(QStringLiteral("ada@example.org"), QStringLiteral("Ada"), done);
    });
    const RecordedRequest request = rig.server.requests().first();
    QCOMPARE(request.path, QByteArray("/auth/dev-signin"));
    QVERIFY(request.header("Authorization").isEmpty());
    QCOMPARE(request.json(), (QJsonObject{{QStringLiteral("email"), QStringLiteral("ada@example.org")},
                                          {QStringLiteral("name"), QStringLiteral("Ada")}}));
    QCOMPARE(rig.logs.linesWith(QStringLiteral("[QuendaAPI] Sign-in URL: ")),
             QStringList{QStringLiteral("[QuendaAPI] Sign-in URL: ") + rig.server.origin() +
                         QStringLiteral("/auth/dev-signin")});
    QCOMPARE(
        rig.logs.linesWith(QStringLiteral("[QuendaAPI] Status: ")),
        QStringList{QStringLiteral("[QuendaAPI] Status: %1, body: ").arg(status) + QString::fromUtf8(body)});
    if (status == 200 && outcome == QLatin1String("fresh-token")) {
        QCOMPARE(result.value(), outcome);
        QCOMPARE(rig.client->authToken(), outcome);
        QCOMPARE(rig.keychain.read(KeychainStore::authTokenAccount), outcome);
    } else if (outcome == QLatin1String("json")) {
        QCOMPARE(result.error().kind(), ServiceError::Kind::Json);
        QVERIFY(!rig.client->authToken());
    } else {
        QCOMPARE(result.error().description(), outcome);
        QVERIFY(!rig.client->authToken());
        QVERIFY(!rig.keychain.read(KeychainStore::authTokenAccount));
    }
}

void TestQuendaAPIClient::supportReport()
{
    Rig rig;
    rig.defaults.setString(QStringLiteral("userName"), QStringLiteral("Ada"));
    rig.server.enqueue(FakeReply::json(200, QByteArray("{}")));
    rig.server.enqueue(FakeReply::json(500, QByteArray("{}")));
    using Outcome = QuendaAPIClient::SupportReportOutcome;
    const auto sent =
        rig.await<Outcome>([&](auto done) { rig.client->sendSupportReport(QStringLiteral("help"), done); });
    QVERIFY(sent.submitted);
    const auto failed =
        rig.await<Outcome>([&](auto done) { rig.client->sendSupportReport(QStringLiteral("x"), done); });
    QVERIFY(!failed.submitted);
    QCOMPARE(failed.message, QString::fromUtf8("Failed to send \u2014 try again later"));

    const RecordedRequest request = rig.server.requests().first();
    QCOMPARE(request.path, QByteArray("/support"));
    QVERIFY(request.header("Authorization").isEmpty());
    const QJsonObject body = request.json();
    QCOMPARE(body.value(QLatin1String("message")).toString(), QStringLiteral("help"));
    QCOMPARE(body.value(QLatin1String("name")).toString(), QStringLiteral("Ada"));
    QCOMPARE(body.value(QLatin1String("email")).toString(), QStringLiteral("anonymous"));
    QCOMPARE(body.value(QLatin1String("app_version")).toString(),
             QStringLiteral("1.2.3 (" QUENDA_VERSION ")"));
    QVERIFY(
        body.value(QLatin1String("diagnostics")).toString().startsWith(QStringLiteral("Quenda v1.2.3 (")));
    QVERIFY(
        body.value(QLatin1String("diagnostics")).toString().endsWith(QStringLiteral(", Backend: connected")));
    QCOMPARE(body.size(), 6);

    rig.defaults.setString(QuendaAPIClient::hostKey, QStringLiteral("http://127.0.0.1:1")); // nothing listens
    const auto unreachable =
        rig.await<Outcome>([&](auto done) { rig.client->sendSupportReport(QStringLiteral("x"), done); });
    QVERIFY(!unreachable.submitted);
    QVERIFY(!unreachable.message.isEmpty());
    rig.defaults.setString(QuendaAPIClient::hostKey, QStringLiteral("%%%"));
    const auto invalid =
        rig.await<Outcome>([&](auto done) { rig.client->sendSupportReport(QStringLiteral("x"), done); });
    QCOMPARE(invalid.message, QStringLiteral("Could not reach server"));
}

QTEST_GUILESS_MAIN(TestQuendaAPIClient)
#include "tst_quendaapiclient.moc"
