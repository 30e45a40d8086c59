#include "fakes/FakeHttpServer.h"
#include "fakes/Waiting.h"
#include "net/GroqClient.h"

#include <QJsonArray>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

const QString kPath = QStringLiteral("/openai/v1/chat/completions");
const QList<ChatMessage> kMessages{{QStringLiteral("system"), QStringLiteral("be brief")},
                                   {QStringLiteral("user"), QStringLiteral("hi")}};

// A client of the fake server, with short limits so that stalls are found quickly.
std::unique_ptr<GroqClient> clientFor(const FakeHttpServer& server, int idleMsec = 5000,
                                      int totalMsec = 10000)
{
    GroqClient::Config config;
    config.url = server.url(kPath);
    config.timeouts = {idleMsec, totalMsec};
    return std::make_unique<GroqClient>(QStringLiteral("gsk-test"), config);
}

Result<QString> complete(const GroqClient& client)
{
    Captured<Result<QString>> result;
    client.chatCompletion(kMessages, QStringLiteral("llama-3.3-70b-versatile"), 512, 0.3, result.setter());
    if (!result.wait())
        return ServiceError::transport(QStringLiteral("test: no completion"));
    return result.value();
}

struct Streamed {
    QStringList pieces;
    Result<QString> result = ServiceError::transport(QStringLiteral("test: no completion"));
};

Streamed stream(const GroqClient& client)
{
    CapturedPieces pieces;
    Captured<Result<QString>> result;
    client.streamChatCompletion(kMessages, QStringLiteral("m"), 512, 0.3, pieces.handler(), result.setter());
    Streamed streamed;
    if (result.wait())
        streamed.result = result.value();
    streamed.pieces = pieces.pieces();
    return streamed;
}

QByteArray sse(const QString& piece, const QByteArray& end = "\n\n")
{
    return wire::groqDelta(piece) + end;
}

} // namespace

class TestGroqClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void requestCarriesKeyModelAndMessages();
    void plainRepliesAndTheirErrors_data();
    void plainRepliesAndTheirErrors();
    void streamSkipsWhatIsNotADelta();
    void streamEndings();
    void piecesArriveWhileTheStreamIsStillOpen();
    void timeLimits();
    void cancelledRequestReportsCancellation();
};

// (The streamed request's key and messages: the clean command's tests.)
void TestGroqClient::requestCarriesKeyModelAndMessages()
{
    FakeHttpServer server;
    server.enqueue(FakeReply::json(200, wire::groqCompletion(QStringLiteral("ok"))));
    QVERIFY(complete(*clientFor(server)).ok());
    const RecordedRequest request = server.requests().first();
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer gsk-test"));
    const QJsonObject body = request.json();
    QCOMPARE(body.value(QLatin1String("stream")), QJsonValue(false));
    QCOMPARE(body.value(QLatin1String("messages")).toArray().at(0).toObject(),
             (QJsonObject{{QStringLiteral("role"), QStringLiteral("system")},
                          {QStringLiteral("content"), QStringLiteral("be brief")}}));
    QCOMPARE(body.value(QLatin1String("model")).toString(), QStringLiteral("llama-3.3-70b-versatile"));
}

void TestGroqClient::plainRepliesAndTheirErrors_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text"); // the content, or the error's description (empty: the parser's own)
    QTest::addColumn<int>("kind");     // -1: success
    const QString unparsed = QStringLiteral("Could not parse Groq API response");
    const int api = int(ServiceError::Kind::GroqApiError), parse = int(ServiceError::Kind::GroqParseError);
    QTest::newRow("content is trimmed")
        << 200 << QByteArray(R"({"choices":[{"message":{"role":"assistant","content":"  Hello there.\n"}}]})")
        << QStringLiteral("Hello there.") << -1;
    QTest::newRow("401 carries the body")
        << 401 << QByteArray(R"({"error":"Invalid API Key"})")
        << QStringLiteral(R"(Groq API error (401): {"error":"Invalid API Key"})") << api;
    QTest::newRow("no choices") << 200 << QByteArray(R"({"choices":[]})") << unparsed << parse;
    QTest::newRow("not JSON") << 200 << QByteArray("<html>bad gateway</html>") << QString()
                              << int(ServiceError::Kind::Json);
}

void TestGroqClient::plainRepliesAndTheirErrors()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    QFETCH(int, kind);
    FakeHttpServer server;
    server.enqueue(FakeReply::json(status, body));
    const Result<QString> result = complete(*clientFor(server));
    if (kind < 0) {
        QCOMPARE(result.value(), text);
        return;
    }
    QCOMPARE(int(result.error().kind()), kind);
    QVERIFY(!result.error().description().isEmpty());
    if (!text.isEmpty())
        QCOMPARE(result.error().description(), text);
    if (kind == int(ServiceError::Kind::GroqApiError))
        QCOMPARE(result.error().statusCode(), status);
}

void TestGroqClient::streamSkipsWhatIsNotADelta()
{
    FakeHttpServer server;
    server.enqueue(FakeReply::events({
        "event: message\nid: 1\nretry: 100\n\n",
        "data: {not json\n\n",
        "data:" + wire::groqDelta(QStringLiteral("no space")).mid(6) + "\n\n",
        "data: {\"choices\":[]}\n\n",
        "data: {\"choices\":[{\"delta\":{\"role\":\"assistant\"}}]}\n\n",
        "data: \xff\xfe\n\n",
        sse(QStringLiteral("  Clean"), "\r\n\r\n"),
        sse(QString()),
        sse(QStringLiteral(" text.\n"), "\n"),
        wire::groqDone() + "\n\n",
        sse(QStringLiteral("after done")),
    }));
    const Streamed streamed = stream(*clientFor(server));
    QCOMPARE(streamed.pieces,
             (QStringList{QStringLiteral("  Clean"), QString(), QStringLiteral(" text.\n")}));
    QCOMPARE(streamed.result.value(), QStringLiteral("Clean text."));
}

// Delivered pieces stay delivered: a stream that closes without [DONE] keeps what came, one broken off
// mid-event (more announced) fails.
void TestGroqClient::streamEndings()
{
    FakeHttpServer server;
    server.enqueue(FakeReply::events({sse(QStringLiteral("Half ")), sse(QStringLiteral("way"))}));
    FakeReply brokenOff = FakeReply::events({sse(QStringLiteral("Half ")), "data: {\"cho"});
    brokenOff.framing = FakeReply::Framing::ContentLength;
    brokenOff.ending = FakeReply::Ending::Disconnect;
    brokenOff.headers.append(std::pair<QByteArray, QByteArray>("Content-Length", "100000"));
    server.enqueue(brokenOff);
    const Streamed whole = stream(*clientFor(server));
    QCOMPARE(whole.pieces, (QStringList{QStringLiteral("Half "), QStringLiteral("way")}));
    QCOMPARE(whole.result.value(), QStringLiteral("Half way"));
    const Streamed cut = stream(*clientFor(server));
    QCOMPARE(cut.pieces, QStringList{QStringLiteral("Half ")});
    QCOMPARE(cut.result.error().kind(), ServiceError::Kind::Transport);
}

void TestGroqClient::piecesArriveWhileTheStreamIsStillOpen()
{
    FakeHttpServer server;
    FakeReply reply = FakeReply::events({sse(QStringLiteral("first"))});
    reply.ending = FakeReply::Ending::Stall; // the rest of the reply never comes
    server.enqueue(reply);
    auto client = clientFor(server, 400, 5000);
    CapturedPieces pieces;
    Captured<Result<QString>> result;
    client->streamChatCompletion(kMessages, QStringLiteral("m"), 512, 0.3, pieces.handler(), result.setter());
    QVERIFY(waitUntil([&] { return !pieces.pieces().isEmpty(); }));
    // The piece was handed on although the reply is not over; the idle limit then ends it.
    QVERIFY(result.wait());
    QCOMPARE(result.value().error().kind(), ServiceError::Kind::TimedOut);
    QCOMPARE(pieces.pieces(), QStringList{QStringLiteral("first")});
}

void TestGroqClient::timeLimits()
{
    FakeHttpServer server;
    FakeReply silent;
    silent.held = true; // never released
    server.enqueue(silent);
    QCOMPARE(complete(*clientFor(server, 200, 5000)).error(), ServiceError::timedOut());

    // Data keeps coming, so the idle limit never fires; the limit on the whole exchange does.
    QList<QByteArray> events;
    for (int i = 0; i < 200; ++i)
        events << sse(QStringLiteral("x"));
    server.enqueue(FakeReply::events(events, 0, 50));
    const Streamed trickle = stream(*clientFor(server, 1000, 600));
    QCOMPARE(trickle.result.error(), ServiceError::timedOut());
    QVERIFY(!trickle.pieces.isEmpty());
    QVERIFY(trickle.pieces.size() < 200);
}

void TestGroqClient::cancelledRequestReportsCancellation()
{
    FakeHttpServer server;
    FakeReply held = FakeReply::json(200, wire::groqCompletion(QStringLiteral("late")));
    held.held = true;
    server.enqueue(held);
    Captured<Result<QString>> result;
    auto client = clientFor(server);
    RequestHandle handle = client->chatCompletion(kMessages, QStringLiteral("m"), 512, 0.3, result.setter());
    QVERIFY(server.waitForRequests(1));
    handle.cancel();
    QVERIFY(handle.isCancelled());
    QVERIFY(result.wait());
    QCOMPARE(result.value().error(), ServiceError::cancelled());
    server.releaseHeld();
}

QTEST_GUILESS_MAIN(TestGroqClient)
#include "tst_groqclient.moc"
