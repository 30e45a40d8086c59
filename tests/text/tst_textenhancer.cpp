#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "fakes/LogCapture.h"
#include "fakes/ScriptedSecretStore.h"
#include "net/KeychainStore.h"
#include "text/PersonalDictionary.h"
#include "text/TextEnhancer.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

// One request either client received; the test answers it as the network would.
struct Call {
    QString route; // "backend" or "groq"
    std::optional<QString> app;
    bool speculative = false;
    QList<ChatMessage> messages;
    QString model;
    std::function<void(const QString&)> onToken; // empty: a plain request
    std::function<void(Result<QString>, bool wasEnhanced)> done;
    RequestHandle handle = RequestHandle::unattached();

    bool streamed() const { return bool(onToken); }
    void answer(const QStringList& pieces, Result<QString> result, bool wasEnhanced = true) const
    {
        for (const QString& piece : pieces)
            onToken(piece);
        done(result, wasEnhanced);
    }
};

class FakeChat final : public ChatCompletionClient {
public:
    explicit FakeChat(QList<Call>& calls)
        : m_calls(calls)
    {}
    RequestHandle chatCompletion(const QList<ChatMessage>& messages, const QString& model, int maxTokens,
                                 double temperature, TextCompletion done) const override
    {
        return streamChatCompletion(messages, model, maxTokens, temperature, {}, std::move(done));
    }
    RequestHandle streamChatCompletion(const QList<ChatMessage>& messages, const QString& model, int, double,
                                       TokenHandler onToken, TextCompletion done) const override
    {
        auto reply = [done](Result<QString> result, bool) { done(result); };
        m_calls.append(Call{QStringLiteral("groq"), {}, false, messages, model, onToken, reply});
        return m_calls.last().handle;
    }
    QList<Call>& m_calls;
};

class FakeBackend final : public EnhanceClient {
public:
    explicit FakeBackend(QList<Call>& calls)
        : m_calls(calls)
    {}
    std::optional<QString> authToken() const override { return token; }
    void setAuthToken(std::optional<QString> value) override { token = std::move(value); }
    RequestHandle enhance(const QString&, const std::optional<QString>& app, bool speculative,
                          EnhanceCompletion done) override
    {
        return enhanceStreaming({}, app, {}, std::move(done), speculative);
    }
    RequestHandle enhanceStreaming(const QString&, const std::optional<QString>& app, TokenHandler onToken,
                                   EnhanceCompletion done) override
    {
        return enhanceStreaming({}, app, std::move(onToken), std::move(done), false);
    }
    RequestHandle enhanceStreaming(const QString&, const std::optional<QString>& app, TokenHandler onToken,
                                   EnhanceCompletion done, bool speculative)
    {
        auto reply = [done](Result<QString> result, bool wasEnhanced) {
            result.ok() ? done(EnhanceReply{result.value(), wasEnhanced}) : done(result.error());
        };
        m_calls.append(Call{QStringLiteral("backend"), app, speculative, {}, {}, onToken, reply});
        return m_calls.last().handle;
    }
    std::optional<QString> token;
    QList<Call>& m_calls;
};

// One enhancer over temporary stores, a virtual main queue and the two fake clients.
struct Rig {
    QTemporaryDir dir;
    VirtualScheduler clock;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    KeychainStore keychain;
    PersonalDictionary dictionary{defaults, clock};
    QList<Call> calls;
    QStringList keys; // each Groq client's key
    FakeBackend backend{calls};
    LogCapture logs;
    std::unique_ptr<TextEnhancer> enhancer;

    explicit Rig(bool signedIn = false, bool groqKey = true, SecretStore* keyring = nullptr)
        : keychain(keyring, dir.filePath(QStringLiteral("secrets.json")))
    {
        if (signedIn)
            keychain.save(KeychainStore::authTokenAccount, QStringLiteral("tok"));
        if (groqKey)
            keychain.save(KeychainStore::groqAccount, QStringLiteral("gsk-key"));
        TextEnhancer::Options options;
        options.makeChatClient = [this](const QString& key, const GroqClient::Config&) {
            keys << key;
            return std::make_unique<FakeChat>(calls);
        };
        enhancer = std::make_unique<TextEnhancer>(clock, backend, keychain, defaults, dictionary, options);
        if (!credentialsRead())
            qFatal("the stored credentials were never read");
        logs.clear();
    }
    bool credentialsRead()
    {
        bool done = false;
        enhancer->whenCredentialsLoaded([&] { done = true; });
        return QTest::qWaitFor([&] { return clock.runUntilIdle(), done; });
    }

    struct Outcome {
        std::optional<EnhancementResult> result;
        QStringList pieces;
    };
    // Starts a clean-up; the test answers its request, then reads the outcome once the queue has run.
    std::shared_ptr<Outcome> enhance(const QString& text, const std::optional<QString>& app = std::nullopt,
                                     bool streaming = true)
    {
        auto outcome = std::make_shared<Outcome>();
        TextEnhancement::TokenHandler onToken;
        if (streaming)
            onToken = [outcome](const QString& piece) { outcome->pieces << piece; };
        enhancer->enhanceText(text, app, onToken,
                              [outcome](const EnhancementResult& result) { outcome->result = result; });
        return outcome;
    }
    // Runs one speculative clean-up to completion, leaving its reply in the cache.
    void primeCache(const QString& input, const QString& reply)
    {
        enhancer->speculativeEnhance(input, std::nullopt);
        calls.last().answer({}, reply);
        clock.runUntilIdle();
    }
    void answerLast(const QStringList& pieces, Result<QString> result, bool wasEnhanced = true)
    {
        calls.last().answer(pieces, std::move(result), wasEnhanced);
        clock.runUntilIdle();
    }
};

} // namespace

class TestTextEnhancer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aKeyringThatComesBackIsAskedAgainAtTheNextDictation();
    void directRoute();
    void backendRouteAndItsFallbackToGroq();

    void partialsOfFewerThanFiveWordsStartNothing();
    void cacheLookupRules_data();
    void cacheLookupRules();
    void cancelledSpeculativeRequestStoresAndLogsNothing();
    void speculativeFailureKeepsTheCacheAndHasNoFallback();
};

void TestTextEnhancer::aKeyringThatComesBackIsAskedAgainAtTheNextDictation()
{
    ScriptedSecretStore keyring;
    keyring.available = false;
    keyring.items.insert(KeychainStore::service + QLatin1Char('/') + KeychainStore::groqAccount,
                         QStringLiteral("gsk-late"));
    Rig rig(false, false, &keyring);
    QVERIFY(!rig.enhancer->isCleanUpAvailable());

    keyring.available = true;
    rig.enhancer->clearSpeculativeCache(); // a dictation begins
    QVERIFY(rig.credentialsRead());
    QCOMPARE(rig.keys, QStringList{QStringLiteral("gsk-late")});
    QVERIFY(rig.enhancer->isCleanUpAvailable());
}

void TestTextEnhancer::directRoute()
{
    // (The streamed route, its context and its fallback to the raw text: the clean command's tests.)
    Rig rig;
    rig.dictionary.addEntry(QStringLiteral("jason"), QStringLiteral("JSON"));
    rig.defaults.setString(TextEnhancer::modelKey, QStringLiteral("qwen2.5:7b"));
    auto plain = rig.enhance(QStringLiteral("words"), std::nullopt, false);
    QVERIFY(!rig.calls.last().streamed());
    QCOMPARE(rig.calls.last().model, QStringLiteral("qwen2.5:7b"));
    QVERIFY(
        rig.calls.last().messages.first().content.endsWith(QString::fromUtf8("\"jason\" \u2192 \"JSON\"")));
    rig.answerLast({}, QString()); // an empty result comes back as it is
    QVERIFY(plain->result->text.isEmpty() && plain->result->wasEnhanced);
}

void TestTextEnhancer::backendRouteAndItsFallbackToGroq()
{
    Rig rig(true);
    auto viaBackend = rig.enhance(QStringLiteral("back end"), QStringLiteral("org.app"));
    QCOMPARE(rig.calls.last().app, std::optional<QString>(QStringLiteral("org.app")));
    rig.answerLast({QStringLiteral("Back"), QStringLiteral("end.")}, QStringLiteral("Backend."));
    QCOMPARE(viaBackend->pieces, (QStringList{QStringLiteral("Back"), QStringLiteral("end.")}));
    QVERIFY(viaBackend->result->text == QStringLiteral("Backend.") && viaBackend->result->wasEnhanced);

    // A failed backend hands the same clean-up to Groq; pieces it delivered first stay delivered.
    auto fallback = rig.enhance(QStringLiteral("from groq"));
    rig.answerLast({QStringLiteral("Par")}, ServiceError::backendServer(500));
    QCOMPARE(rig.calls.last().route, QStringLiteral("groq"));
    QVERIFY(rig.calls.last().streamed());
    rig.answerLast({QStringLiteral("From Groq.")}, QStringLiteral("From Groq."));
    QCOMPARE(fallback->pieces, (QStringList{QStringLiteral("Par"), QStringLiteral("From Groq.")}));
    QVERIFY(fallback->result->text == QStringLiteral("From Groq.") && fallback->result->wasEnhanced);

    // The plain variant passes the backend's wasEnhanced on unchanged.
    auto plain = rig.enhance(QStringLiteral("same"), std::nullopt, false);
    QVERIFY(!rig.calls.last().streamed() && !rig.calls.last().speculative);
    rig.answerLast({}, QStringLiteral("Same."), false);
    QVERIFY(plain->result->text == QStringLiteral("Same.") && !plain->result->wasEnhanced);

    // Without a key the raw text comes back, with no error to show.
    Rig noKey(true, false);
    auto raw = noKey.enhance(QStringLiteral("partial text"));
    noKey.answerLast({}, ServiceError::transport(QStringLiteral("broken")));
    QCOMPARE(noKey.calls.size(), 1);
    QVERIFY(raw->result->text == QStringLiteral("partial text") && !raw->result->wasEnhanced &&
            !raw->result->error);
}

void TestTextEnhancer::partialsOfFewerThanFiveWordsStartNothing()
{
    Rig rig;
    rig.enhancer->speculativeEnhance(QStringLiteral("one  two three   four "), std::nullopt);
    rig.enhancer->speculativeEnhance(QString(), std::nullopt);
    QVERIFY(rig.calls.isEmpty());
    rig.primeCache(QStringLiteral("one two three four five"), QStringLiteral("One two three four five."));
    QVERIFY(!rig.calls[0].streamed());
    // The same partial again starts nothing: it is the cached input.
    rig.enhancer->speculativeEnhance(QStringLiteral("one two three four five"), std::nullopt);
    QCOMPARE(rig.calls.size(), 1);
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
    rig.primeCache(QStringLiteral("send the report to anna now"),
                   QStringLiteral("Send the report to Anna now."));
    const auto outcome = rig.enhance(finalText);
    QCOMPARE(rig.calls.size(), expected.isEmpty() ? 2 : 1); // a miss asks the service
    if (expected.isEmpty())
        return;
    QVERIFY(outcome->result->text == expected && outcome->result->wasEnhanced);
    QCOMPARE(outcome->pieces.join(QString()), expected);
    QVERIFY(rig.enhancer->speculativeCache().isEmpty() && rig.enhancer->speculativeCacheInput().isEmpty());
}

void TestTextEnhancer::cancelledSpeculativeRequestStoresAndLogsNothing()
{
    for (const bool byFinal : {true, false}) {
        Rig rig;
        rig.enhancer->speculativeEnhance(QStringLiteral("one two three four five six"), std::nullopt);
        const Call speculative = rig.calls.last();
        // Its reply has arrived and waits on the main queue, which has not run yet...
        speculative.answer({}, QStringLiteral("Stale result."));
        rig.logs.clear();
        // ...when the final clean-up starts, or the cache is cleared, and cancels the request.
        if (byFinal)
            rig.enhance(QStringLiteral("one two three four five six"));
        else
            rig.enhancer->clearSpeculativeCache();
        QVERIFY(speculative.handle.isCancelled());
        QVERIFY(!rig.enhancer->hasSpeculativeTask());
        rig.clock.runUntilIdle();
        QCOMPARE(rig.calls.size(), byFinal ? 2 : 1); // the final one was not served from the stale reply
        QVERIFY(rig.enhancer->speculativeCache().isEmpty() &&
                rig.enhancer->speculativeCacheInput().isEmpty());
        QVERIFY(rig.logs.linesWith(QStringLiteral("[Speculative]")).isEmpty());
    }
}

void TestTextEnhancer::speculativeFailureKeepsTheCacheAndHasNoFallback()
{
    Rig rig(true);
    rig.enhancer->speculativeEnhance(QStringLiteral("via the backend five words"), QStringLiteral("org.app"));
    QVERIFY(rig.calls.last().speculative && !rig.calls.last().streamed());
    QCOMPARE(rig.calls.last().app, std::optional<QString>(QStringLiteral("org.app")));
    rig.answerLast({}, QStringLiteral("Via backend."), false);
    QCOMPARE(rig.enhancer->speculativeCache(), QStringLiteral("Via backend."));

    rig.enhancer->speculativeEnhance(QStringLiteral("via the backend five words again"), std::nullopt);
    rig.answerLast({}, ServiceError::backendServer(500));
    QCOMPARE(rig.enhancer->speculativeCache(), QStringLiteral("Via backend."));
    QCOMPARE(rig.enhancer->speculativeCacheInput(), QStringLiteral("via the backend five words"));
    QCOMPARE(rig.calls.size(), 2); // no fallback to Groq
}

QTEST_GUILESS_MAIN(TestTextEnhancer)
#include "tst_textenhancer.moc"
