#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/LogCapture.h"
#include "fakes/Waiting.h"
#include "net/KeychainStore.h"
#include "net/QuendaAPIClient.h"
#include "text/PersonalDictionary.h"
#include "text/TextEnhancer.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

const QByteArray kGroqPath = "/openai/v1/chat/completions";

// One enhancer over temporary stores, a virtual main queue and one loopback server that plays both services.
struct Rig {
    QTemporaryDir dir;
    VirtualScheduler clock;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    KeychainStore keychain{nullptr, dir.filePath(QStringLiteral("secrets.json"))};
    PersonalDictionary dictionary{defaults, clock};
    QuendaAPIClient::DictionarySource words()
    {
        return [this] { return dictionary.requestDictionary(); };
    }
    FakeHttpServer server;
    LogCapture logs;
    std::unique_ptr<QuendaAPIClient> backend;
    std::unique_ptr<TextEnhancer> enhancer;

    Rig()
    {
        defaults.setString(QuendaAPIClient::hostKey, server.origin());
        QuendaAPIClient::Config config;
        config.timeouts = {3000, 6000};
        backend = std::make_unique<QuendaAPIClient>(defaults, keychain, words(), config);
    }

    void build()
    {
        TextEnhancer::Options options;
        GroqClient::Config groq;
        groq.url = server.url(QString::fromLatin1(kGroqPath));
        groq.timeouts = {3000, 6000};
        options.groqConfig = groq;
        enhancer = std::make_unique<TextEnhancer>(clock, *backend, keychain, defaults, dictionary, options);
        clock.runUntilIdle(); // the stored credentials arrive
        logs.clear();
    }
    void buildWithGroqKey()
    {
        keychain.save(KeychainStore::groqAccount, QStringLiteral("gsk-key"));
        build();
    }

    struct Outcome {
        EnhancementResult result;
        QStringList pieces;
    };
    Outcome enhance(const QString& text, const std::optional<QString>& app = std::nullopt,
                    bool streaming = true)
    {
        Captured<EnhancementResult> result;
        CapturedPieces pieces;
        enhancer->enhanceText(text, app, streaming ? pieces.handler() : TextEnhancement::TokenHandler(),
                              result.setter());
        if (!result.wait(10000, [this] { clock.runUntilIdle(); }))
            qFatal("enhanceText never completed");
        return Outcome{result.value(), pieces.pieces()};
    }
    // Runs the main queue until the condition holds.
    bool settle(const std::function<bool()>& condition)
    {
        return waitUntil(condition, 10000, [this] { clock.runUntilIdle(); });
    }
    // Runs one plain speculative clean-up of the input to completion, leaving its reply in the cache.
    void primeCache(const QString& input, const QString& reply,
                    const std::optional<QString>& app = std::nullopt)
    {
        server.enqueue(FakeReply::json(200, wire::groqCompletion(reply)));
        enhancer->speculativeEnhance(input, app);
        if (!settle([this] { return !enhancer->speculativeCache().isEmpty(); }))
            qFatal("speculative clean-up never completed");
    }
    QList<RecordedRequest> requestsTo(const QByteArray& path) const
    {
        QList<RecordedRequest> matching;
        for (const RecordedRequest& request : server.requests())
            if (request.path == path)
                matching << request;
        return matching;
    }
};

} // namespace

class TestTextEnhancer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void constructionReadsTheStoredCredentials_data();
    void constructionReadsTheStoredCredentials();
    void messagesAreTheFewShotPromptPlusContext();
    void applicationContextTable_data();
    void applicationContextTable();
    void emptyTextReturnsAtOnce();
    void directRouteStreamsAndTrims();
    void directRoutePlainAndItsFailure();
    void backendRouteAndItsFallbackToGroq();
    void backendFailureWithoutGroqGivesTheRawText();

    void partialsOfFewerThanFiveWordsStartNothing();
    void speculativeResultServesTheFinalTranscript();
    void cacheLookupRules_data();
    void cacheLookupRules();
    void cancelledSpeculativeReplyStoresAndLogsNothing();
    void cancellationAbortsTheRequestInFlight();
    void speculativeFailureKeepsTheCacheAndHasNoFallback();
};

void TestTextEnhancer::constructionReadsTheStoredCredentials_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("defaultsKey");
    QTest::addColumn<QString>("keychainKey"); // null: none saved
    QTest::addColumn<QString>("groqKey");     // empty: no direct client
    QTest::newRow("nothing") << QString() << QString() << QString() << QString();
    QTest::newRow("token only") << QStringLiteral("tok") << QString() << QString() << QString();
    QTest::newRow("key in the defaults")
        << QString() << QStringLiteral("from-defaults") << QString() << QStringLiteral("from-defaults");
    QTest::newRow("keychain wins") << QString() << QStringLiteral("from-defaults")
                                   << QStringLiteral("from-keychain") << QStringLiteral("from-keychain");
    QTest::newRow("empty key saved") << QString() << QString() << QStringLiteral("") << QString();
}

void TestTextEnhancer::constructionReadsTheStoredCredentials()
{
    QFETCH(QString, token);
    QFETCH(QString, defaultsKey);
    QFETCH(QString, keychainKey);
    QFETCH(QString, groqKey);
    Rig rig;
    if (!token.isEmpty())
        rig.keychain.save(KeychainStore::authTokenAccount, token);
    if (!defaultsKey.isEmpty())
        rig.defaults.setString(TextEnhancer::groqKeyDefaultsKey, defaultsKey);
    if (!keychainKey.isNull())
        rig.keychain.save(KeychainStore::groqAccount, keychainKey);
    rig.build();
    QCOMPARE(rig.enhancer->groqClient() ? rig.enhancer->groqClient()->apiKey() : QString(), groqKey);
    QCOMPARE(rig.enhancer->isCleanUpAvailable(), !token.isEmpty() || !groqKey.isEmpty());
    if (!rig.enhancer->isCleanUpAvailable()) { // no route: the text comes back unchanged, nothing is sent
        const Rig::Outcome outcome = rig.enhance(QStringLiteral("raw text"));
        QVERIFY(outcome.result.text == QStringLiteral("raw text") && !outcome.result.wasEnhanced);
        QCOMPARE(rig.server.requestCount(), 0);
    }
    rig.backend->setAuthToken(std::nullopt); // signing out is seen at once
    QCOMPARE(rig.enhancer->isCleanUpAvailable(), !groqKey.isEmpty());
}

void TestTextEnhancer::messagesAreTheFewShotPromptPlusContext()
{
    Rig rig;
    rig.buildWithGroqKey();
    QList<ChatMessage> messages = rig.enhancer->buildMessages(QStringLiteral("the words"), std::nullopt);
    QCOMPARE(messages.size(), 8);
    QCOMPARE(messages[0], (ChatMessage{QStringLiteral("system"), TextEnhancer::systemPrompt}));
    QCOMPARE(messages[7], (ChatMessage{QStringLiteral("user"), QStringLiteral("the words")}));

    rig.dictionary.addEntry(QStringLiteral("jason"), QStringLiteral("JSON"));
    messages = rig.enhancer->buildMessages(QStringLiteral("x"), QStringLiteral("com.tinyspeck.slackmacgap"));
    QCOMPARE(messages[0].content, TextEnhancer::systemPrompt +
                                      TextEnhancer::appContext(QStringLiteral("slack")) +
                                      rig.dictionary.promptSection());
    QVERIFY(messages[0].content.endsWith(QString::fromUtf8("\"jason\" \u2192 \"JSON\"")));
}

void TestTextEnhancer::applicationContextTable_data()
{
    QTest::addColumn<QString>("bundle");
    QTest::addColumn<QString>("starts");
    QTest::newRow("slack") << QStringLiteral("com.tinyspeck.slackmacgap")
                           << QStringLiteral("\nContext: Slack message.");
    QTest::newRow("Xcode is case-sensitive") << QStringLiteral("com.apple.dt.Xcode") << QString();
    QTest::newRow("mail before docs") << QStringLiteral("mail.docs") << QStringLiteral("\nContext: email.");
    QTest::newRow("nothing") << QStringLiteral("org.gnome.Calculator") << QString();
    // Linux application ids and window classes, in any case, matched by whole name parts.
    QTest::newRow("Slack window class")
        << QStringLiteral("Slack") << QStringLiteral("\nContext: Slack message.");
    QTest::newRow("xterm class") << QStringLiteral("XTerm") << QStringLiteral("\nContext: terminal.");
    QTest::newRow("thunderbird") << QStringLiteral("org.mozilla.Thunderbird")
                                 << QStringLiteral("\nContext: email.");
    QTest::newRow("jetbrains class") << QStringLiteral("jetbrains-idea")
                                     << QStringLiteral("\nContext: code editor.");
    QTest::newRow("part of a word") << QStringLiteral("org.example.Skate") << QString();
}

void TestTextEnhancer::applicationContextTable()
{
    QFETCH(QString, bundle);
    QFETCH(QString, starts);
    const QString context = TextEnhancer::appContext(bundle);
    if (starts.isEmpty())
        QCOMPARE(context, QString());
    else
        QVERIFY2(context.startsWith(starts), qPrintable(context));
}

void TestTextEnhancer::emptyTextReturnsAtOnce()
{
    Rig rig;
    rig.buildWithGroqKey();
    FakeReply held = FakeReply::json(200, wire::groqCompletion(QStringLiteral("Cached.")));
    held.held = true;
    rig.server.enqueue(held);
    rig.enhancer->speculativeEnhance(QStringLiteral("one two three four five"), std::nullopt);
    QVERIFY(rig.server.waitForRequests(1));
    std::optional<EnhancementResult> result;
    rig.enhancer->enhanceText(QString(), std::nullopt, {}, [&](const EnhancementResult& r) { result = r; });
    QVERIFY(result && result->text.isEmpty() && !result->wasEnhanced && !result->error);
    QVERIFY(rig.enhancer->hasSpeculativeTask()); // not cancelled by an empty transcript
    rig.server.releaseHeld();
    QVERIFY(rig.settle([&] { return !rig.enhancer->speculativeCache().isEmpty(); }));
}

void TestTextEnhancer::directRouteStreamsAndTrims()
{
    Rig rig;
    rig.buildWithGroqKey();
    rig.server.enqueue(
        wire::groqStream({QStringLiteral(" Send"), QStringLiteral(" it."), QStringLiteral("\n")}));
    const Rig::Outcome outcome = rig.enhance(QStringLiteral("um send it"), QStringLiteral("com.apple.mail"));
    QCOMPARE(outcome.pieces,
             (QStringList{QStringLiteral(" Send"), QStringLiteral(" it."), QStringLiteral("\n")}));
    QCOMPARE(outcome.result.text, QStringLiteral("Send it."));
    QVERIFY(outcome.result.wasEnhanced && !outcome.result.error);

    const RecordedRequest request = rig.requestsTo(kGroqPath).first();
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer gsk-key"));
    const QJsonObject body = request.json();
    QCOMPARE(body.value(QLatin1String("model")).toString(), QStringLiteral("llama-3.3-70b-versatile"));
    QVERIFY(body.value(QLatin1String("stream")).toBool());
    const QJsonArray messages = body.value(QLatin1String("messages")).toArray();
    QVERIFY(
        messages[0].toObject().value(QLatin1String("content")).toString().contains(QStringLiteral("email")));
    QCOMPARE(messages[7].toObject().value(QLatin1String("content")).toString(), QStringLiteral("um send it"));
}

void TestTextEnhancer::directRoutePlainAndItsFailure()
{
    Rig rig;
    rig.defaults.setString(TextEnhancer::modelKey, QStringLiteral("qwen2.5:7b"));
    rig.buildWithGroqKey();
    rig.server.enqueue(FakeReply::json(200, wire::groqCompletion(QString())));
    rig.server.enqueue(FakeReply::json(500, QByteArray("overloaded")));
    const Rig::Outcome empty = rig.enhance(QStringLiteral("words"), std::nullopt, false);
    QCOMPARE(empty.result.text, QString()); // an empty result comes back as it is
    QVERIFY(empty.result.wasEnhanced);
    const QJsonObject body = rig.requestsTo(kGroqPath).first().json();
    QVERIFY(!body.value(QLatin1String("stream")).toBool());
    QCOMPARE(body.value(QLatin1String("model")).toString(), QStringLiteral("qwen2.5:7b"));

    rig.logs.clear();
    const Rig::Outcome failed = rig.enhance(QStringLiteral("words"));
    QCOMPARE(failed.result.text, QStringLiteral("words"));
    QCOMPARE(failed.result.error, QStringLiteral("Groq API error (500): Stream failed"));
    QCOMPARE(rig.logs.linesWith(QStringLiteral("[TextEnhancer] Enhancement failed: ")),
             QStringList{
                 QStringLiteral("[TextEnhancer] Enhancement failed: Groq API error (500): Stream failed")});
}

void TestTextEnhancer::backendRouteAndItsFallbackToGroq()
{
    Rig rig;
    rig.keychain.save(KeychainStore::authTokenAccount, QStringLiteral("tok"));
    rig.buildWithGroqKey();
    rig.server.enqueue(wire::backendStream({QStringLiteral("Back"), QStringLiteral("end.")}));
    const Rig::Outcome viaBackend = rig.enhance(QStringLiteral("back end"), QStringLiteral("org.app"));
    QCOMPARE(viaBackend.pieces, (QStringList{QStringLiteral("Back"), QStringLiteral("end.")}));
    QCOMPARE(viaBackend.result.text, QStringLiteral("Backend."));
    QVERIFY(viaBackend.result.wasEnhanced);
    QCOMPARE(rig.requestsTo("/enhance").first().json().value(QLatin1String("appBundleId")).toString(),
             QStringLiteral("org.app"));

    rig.logs.clear();
    rig.server.enqueue(FakeReply::json(500, QByteArray("{}")));
    rig.server.enqueue(wire::groqStream({QStringLiteral("From Groq.")}));
    const Rig::Outcome fallback = rig.enhance(QStringLiteral("from groq"));
    QCOMPARE(fallback.result.text, QStringLiteral("From Groq."));
    QVERIFY(fallback.result.wasEnhanced);
    QCOMPARE(rig.logs.lines(),
             (QStringList{
                 QStringLiteral("[TextEnhancer] Backend configured: true, direct Groq: true"),
                 QStringLiteral("[TextEnhancer] Backend failed, trying direct Groq: Server error (500)")}));

    // The plain variant uses the backend's plain request, whose wasEnhanced is passed on unchanged.
    rig.server.enqueue(FakeReply::json(200, QByteArray(R"({"enhanced":"Same.","wasEnhanced":false})")));
    const Rig::Outcome plain = rig.enhance(QStringLiteral("same"), std::nullopt, false);
    QCOMPARE(plain.result.text, QStringLiteral("Same."));
    QVERIFY(!plain.result.wasEnhanced);
}

void TestTextEnhancer::backendFailureWithoutGroqGivesTheRawText()
{
    Rig rig;
    rig.keychain.save(KeychainStore::authTokenAccount, QStringLiteral("tok"));
    rig.build();
    FakeReply broken = FakeReply::events({wire::backendToken(QStringLiteral("Par")) + "\n\n"});
    broken.framing = FakeReply::Framing::ContentLength;
    broken.headers.append(std::pair<QByteArray, QByteArray>("Content-Length", "4096")); // more than is sent
    broken.ending = FakeReply::Ending::Disconnect;
    rig.server.enqueue(broken);
    const Rig::Outcome outcome = rig.enhance(QStringLiteral("partial text"));
    QCOMPARE(outcome.pieces, QStringList{QStringLiteral("Par")}); // delivered before the failure, and kept
    QCOMPARE(outcome.result.text, QStringLiteral("partial text"));
    QVERIFY(!outcome.result.wasEnhanced && !outcome.result.error);
    QCOMPARE(rig.logs.linesWith(QStringLiteral("[TextEnhancer] Backend failed, trying direct Groq: ")).size(),
             1);
}

void TestTextEnhancer::partialsOfFewerThanFiveWordsStartNothing()
{
    Rig rig;
    rig.buildWithGroqKey();
    rig.enhancer->speculativeEnhance(QStringLiteral("one  two three   four "), std::nullopt);
    rig.enhancer->speculativeEnhance(QString(), std::nullopt);
    QVERIFY(!rig.enhancer->hasSpeculativeTask());
    rig.server.enqueue(
        FakeReply::json(200, wire::groqCompletion(QStringLiteral("One two three four five."))));
    rig.enhancer->speculativeEnhance(QStringLiteral("one two three four five"), std::nullopt);
    QVERIFY(rig.enhancer->hasSpeculativeTask());
}

void TestTextEnhancer::speculativeResultServesTheFinalTranscript()
{
    Rig rig;
    rig.buildWithGroqKey();
    rig.primeCache(QStringLiteral("send the report to anna now"),
                   QStringLiteral("Send the report to Anna now."), QStringLiteral("com.apple.mail"));
    QCOMPARE(rig.enhancer->speculativeCacheInput(), QStringLiteral("send the report to anna now"));
    const QJsonObject body = rig.requestsTo(kGroqPath).first().json();
    QVERIFY(!body.value(QLatin1String("stream")).toBool());

    // The same partial again starts nothing: it is the cached input.
    rig.enhancer->speculativeEnhance(QStringLiteral("send the report to anna now"), std::nullopt);
    QCOMPARE(rig.server.requestCount(), 1);

    rig.logs.clear();
    const Rig::Outcome hit = rig.enhance(QStringLiteral("Send the report to Anna now"));
    QCOMPARE(hit.result.text, QStringLiteral("Send the report to Anna now."));
    QVERIFY(hit.result.wasEnhanced);
    QCOMPARE(hit.pieces.size(), 28); // one piece per character
    QCOMPARE(hit.pieces.join(QString()), hit.result.text);
    QCOMPARE(rig.logs.lines(),
             QStringList{QString::fromUtf8("[Speculative] Cache HIT \u2014 skipping Groq round-trip")});
    QCOMPARE(rig.server.requestCount(), 1);
    QVERIFY(rig.enhancer->speculativeCache().isEmpty() && rig.enhancer->speculativeCacheInput().isEmpty());
}

void TestTextEnhancer::cacheLookupRules_data()
{
    QTest::addColumn<QString>("finalText");
    QTest::addColumn<QString>("expected"); // empty: a miss
    const QString cached = QStringLiteral("Send the report to Anna now.");
    QTest::newRow("case change only") << QStringLiteral("  Send the report to Anna now\n") << cached;
    // Added words go before the cleaned text's closing punctuation; punctuation of their own replaces it.
    QTest::newRow("three more words") << QStringLiteral("send the report to anna now by friday please")
                                      << QStringLiteral("Send the report to Anna now by friday please.");
    QTest::newRow("a full stop") << QStringLiteral("send the report to anna now.") << cached;
    QTest::newRow("a question") << QStringLiteral("send the report to anna now by friday?")
                                << QStringLiteral("Send the report to Anna now by friday?");
    QTest::newRow("four more words") << QStringLiteral("send the report to anna now by friday please thanks")
                                     << QString();
    QTest::newRow("differs earlier") << QStringLiteral("send a report to anna now") << QString();
}

void TestTextEnhancer::cacheLookupRules()
{
    QFETCH(QString, finalText);
    QFETCH(QString, expected);
    Rig rig;
    rig.buildWithGroqKey();
    QVERIFY(!rig.enhancer->cachedSpeculativeResult(finalText)); // empty cache: none
    rig.primeCache(QStringLiteral("send the report to anna now"),
                   QStringLiteral("Send the report to Anna now."));
    const std::optional<QString> result = rig.enhancer->cachedSpeculativeResult(finalText);
    QCOMPARE(result.value_or(QString()), expected);
}

void TestTextEnhancer::cancelledSpeculativeReplyStoresAndLogsNothing()
{
    Rig rig;
    rig.buildWithGroqKey();
    rig.server.enqueue(FakeReply::json(200, wire::groqCompletion(QStringLiteral("Stale result."))));
    rig.enhancer->speculativeEnhance(QStringLiteral("one two three four five six"), std::nullopt);
    // The reply has reached the client and waits on the main queue, which has not run yet...
    QVERIFY(rig.server.waitForRequests(1));
    QVERIFY(waitUntil([&] { return rig.clock.pendingCount() > 0; }));
    // ...when the final clean-up starts and cancels the request.
    rig.server.enqueue(wire::groqStream({QStringLiteral("Final.")}));
    rig.logs.clear();
    const Rig::Outcome final = rig.enhance(QStringLiteral("one two three four five six"));
    QCOMPARE(final.result.text, QStringLiteral("Final."));
    rig.clock.runUntilIdle();
    QVERIFY(rig.enhancer->speculativeCache().isEmpty() && rig.enhancer->speculativeCacheInput().isEmpty());
    QVERIFY(rig.logs.linesWith(QStringLiteral("[Speculative]")).isEmpty());
}

void TestTextEnhancer::cancellationAbortsTheRequestInFlight()
{
    Rig rig;
    rig.buildWithGroqKey();
    FakeReply held = FakeReply::json(200, wire::groqCompletion(QStringLiteral("Never stored.")));
    held.held = true;
    rig.server.enqueue(held);
    rig.enhancer->speculativeEnhance(QStringLiteral("one two three four five"), std::nullopt);
    QVERIFY(rig.server.waitForRequests(1));
    rig.logs.clear();
    rig.enhancer->clearSpeculativeCache();
    QVERIFY(!rig.enhancer->hasSpeculativeTask());
    // The transfer is dropped: the server sees its connection closed.
    QVERIFY(waitUntil([&] { return rig.server.openConnections() == 0; }));
    rig.server.releaseHeld();
    waitUntil([] { return false; }, 300, [&] { rig.clock.runUntilIdle(); });
    QVERIFY(rig.enhancer->speculativeCache().isEmpty());
    QVERIFY(rig.logs.lines().isEmpty()); // the cancellation error is not logged
}

void TestTextEnhancer::speculativeFailureKeepsTheCacheAndHasNoFallback()
{
    Rig rig;
    rig.keychain.save(KeychainStore::authTokenAccount, QStringLiteral("tok"));
    rig.buildWithGroqKey();
    rig.server.enqueue(
        FakeReply::json(200, QByteArray(R"({"enhanced":"Via backend.","wasEnhanced":false})")));
    rig.enhancer->speculativeEnhance(QStringLiteral("via the backend five words"), QStringLiteral("org.app"));
    QVERIFY(rig.settle([&] { return !rig.enhancer->speculativeCache().isEmpty(); }));
    QCOMPARE(rig.enhancer->speculativeCache(), QStringLiteral("Via backend."));
    const QJsonObject body = rig.requestsTo("/enhance").first().json();
    QVERIFY(body.value(QLatin1String("speculative")).toBool());
    QCOMPARE(body.value(QLatin1String("appBundleId")).toString(), QStringLiteral("org.app"));

    rig.server.enqueue(FakeReply::json(500, QByteArray("{}")));
    rig.enhancer->speculativeEnhance(QStringLiteral("via the backend five words again"), std::nullopt);
    QVERIFY(rig.settle([&] {
        return !rig.logs.linesWith(QStringLiteral("[Speculative] Failed (non-critical): ")).isEmpty();
    }));
    QCOMPARE(rig.enhancer->speculativeCache(), QStringLiteral("Via backend."));
    QCOMPARE(rig.enhancer->speculativeCacheInput(), QStringLiteral("via the backend five words"));
    QVERIFY(rig.requestsTo(kGroqPath).isEmpty()); // no fallback to Groq
}

QTEST_GUILESS_MAIN(TestTextEnhancer)
#include "tst_textenhancer.moc"
