#include "text/TextEnhancer.h"

#include "base/Log.h"
#include "base/Scheduler.h"
#include "base/UserDefaults.h"
#include "net/KeychainStore.h"
#include "text/ApplicationKind.h"
#include "text/Graphemes.h"
#include "text/PersonalDictionary.h"

namespace quenda {

namespace {

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString quotedClip(const QString& text, qsizetype n)
{
    return QLatin1Char('"') + graphemes::clip(text, n) + QLatin1Char('"');
}

const QString& slackContext()
{
    static const QString text = QStringLiteral("\nContext: Slack message. Tone: casual, concise. Use "
                                               "contractions. Skip formal language. Lowercase OK "
                                               "for short messages.");
    return text;
}
const QString& emailContext()
{
    static const QString text = QStringLiteral(
        "\nContext: email. Tone: professional but warm. Full sentences. Proper grammar and punctuation.");
    return text;
}
const QString& chatContext()
{
    static const QString text = QStringLiteral(
        "\nContext: chat/texting. Tone: very casual. Short sentences. Contractions. Don't over-punctuate.");
    return text;
}
const QString& codeContext()
{
    static const QString text = QStringLiteral(
        "\nContext: code editor. Preserve camelCase, snake_case, PascalCase. Coding terms: API, UI, SDK, "
        "JSON, "
        "HTTP, SQL, regex, async, await, enum, struct, class, func, nil, bool, int, string, array, dict, "
        "git, "
        "commit, push, pull, merge, branch, PR, CI/CD. Don't capitalize after colons in code comments.");
    return text;
}
const QString& terminalContext()
{
    static const QString text = QStringLiteral("\nContext: terminal. Preserve exact command names, flags, "
                                               "paths. Technical: npm, pip, brew, curl, grep, "
                                               "ssh, docker, kubectl.");
    return text;
}
const QString& notesContext()
{
    static const QString text = QStringLiteral(
        "\nContext: notes/docs. Clear, well-structured. Use proper paragraphs and punctuation.");
    return text;
}
const QString& projectContext()
{
    static const QString text =
        QStringLiteral("\nContext: project management. Concise, action-oriented. Technical terms preserved.");
    return text;
}

bool endsSentence(const QString& character)
{
    static const QStringList marks = {QStringLiteral("."),         QStringLiteral("!"),
                                      QStringLiteral("?"),         QString::fromUtf8("\u2026"),
                                      QString::fromUtf8("\u3002"), QString::fromUtf8("\uff01"),
                                      QString::fromUtf8("\uff1f")};
    return marks.contains(character);
}

bool attachesToThePreviousWord(const QString& character)
{
    return endsSentence(character) || character == QLatin1String(",") || character == QLatin1String(";") ||
           character == QLatin1String(":");
}

// The words a near match adds go inside the cleaned sentence, before its closing punctuation ("...young
// man." rather than "...young. man"); when they bring punctuation of their own, theirs ends the sentence.
QString stitchedAfterNearMatch(const QString& cached, const QString& delta)
{
    const QStringList characters = graphemes::split(cached);
    qsizetype bodyEnd = characters.size();
    while (bodyEnd > 0 && endsSentence(characters[bodyEnd - 1]))
        --bodyEnd;
    const QString body = QStringList(characters.mid(0, bodyEnd)).join(QString());
    const QString closing = QStringList(characters.mid(bodyEnd)).join(QString());
    const QStringList added = graphemes::split(delta);
    if (added.isEmpty())
        return cached;
    const QString separator = attachesToThePreviousWord(added.first()) ? QString() : QStringLiteral(" ");
    return body + separator + delta + (endsSentence(added.last()) ? QString() : closing);
}

} // namespace

const QString TextEnhancer::systemPrompt = QString::fromUtf8(
    "You are a dictation cleanup tool. You receive raw speech-to-text output and return a cleaned version.\n"
    "\n"
    "Clean up: filler words (um, uh, like, you know), stutters/false starts, punctuation, capitalization, "
    "homophones.\n"
    "Fix misheard words ONLY when context makes it obvious (e.g. \"mexico\" \u2192 \"Xcode\" near coding "
    "words).\n"
    "NEVER add, invent, or rephrase. Keep the speaker's exact words minus fillers and stutters.\n"
    "Respond with ONLY the cleaned text. No commentary.");

// One clean-up request, from enhanceText to its completion.
struct TextEnhancer::Call {
    QString text;
    std::optional<QString> appBundleID;
    TokenHandler onToken;
    Completion done;
};

TextEnhancer::TextEnhancer(Scheduler& mainQueue, EnhanceClient& backend, KeychainStore& keychain,
                           UserDefaults& defaults, PersonalDictionary& dictionary)
    : TextEnhancer(mainQueue, backend, keychain, defaults, dictionary, Options())
{}

TextEnhancer::TextEnhancer(Scheduler& mainQueue, EnhanceClient& backend, KeychainStore& keychain,
                           UserDefaults& defaults, PersonalDictionary& dictionary, Options options)
    : m_mainQueue(mainQueue)
    , m_backend(backend)
    , m_keychain(keychain)
    , m_defaults(defaults)
    , m_dictionary(dictionary)
    , m_options(std::move(options))
    , m_alive(std::make_shared<TextEnhancer*>(this))
{
    applyModel();
    reloadStoredCredentials();
    // The model, the server and the key may change while the application runs (the settings, or
    // `quenda config set` from a shell): the next clean-up uses the new ones.
    for (const QString& key : {modelKey, groqKeyDefaultsKey, GroqClient::urlKey})
        m_defaults.onChange(key, &m_settingsWatch, [this] {
            applyGroqSettings(); // at once, with the key as last read
            loadGroqClient();
        });
}

void TextEnhancer::reloadStoredCredentials()
{
    // The keyring may take its time, or not answer at all: the token arrives when it is read. A sign-in
    // or sign-out meanwhile is newer than what was stored, and stays.
    readStored(KeychainStore::authTokenAccount,
               [before = m_backend.authToken()](TextEnhancer& enhancer, std::optional<QString> token) {
                   if (enhancer.m_backend.authToken() == before)
                       enhancer.m_backend.setAuthToken(std::move(token));
               });
    loadGroqClient();
}

void TextEnhancer::readStored(const QString& account,
                              std::function<void(TextEnhancer&, std::optional<QString>)> use)
{
    std::weak_ptr<TextEnhancer*> alive = m_alive;
    ++m_credentialReads;
    m_keychain.readInBackground(account, m_mainQueue,
                                [alive, use = std::move(use)](std::optional<QString> value) {
                                    if (const std::shared_ptr<TextEnhancer*> self = alive.lock()) {
                                        use(**self, std::move(value));
                                        (*self)->credentialReadDone();
                                    }
                                });
}

void TextEnhancer::whenCredentialsLoaded(std::function<void()> then)
{
    if (m_credentialReads == 0)
        return then();
    m_credentialWaiters.push_back(std::move(then));
}

void TextEnhancer::credentialReadDone()
{
    if (--m_credentialReads > 0)
        return;
    for (const auto& then : std::exchange(m_credentialWaiters, {}))
        then();
}

void TextEnhancer::loadGroqClient()
{
    readStored(KeychainStore::groqAccount, [](TextEnhancer& enhancer, std::optional<QString> key) {
        enhancer.useGroqKey(std::move(key));
    });
}

void TextEnhancer::useGroqKey(std::optional<QString> key)
{
    m_storedGroqKey = std::move(key);
    applyGroqSettings();
}

void TextEnhancer::applyModel()
{
    const std::optional<QString> model = m_defaults.stringValue(modelKey);
    m_model = model && !model->trimmed().isEmpty() ? model->trimmed() : QString::fromLatin1(defaultModel);
}

void TextEnhancer::applyGroqSettings()
{
    applyModel();
    std::optional<QString> key = m_storedGroqKey;
    if (!key)
        key = m_defaults.stringValue(groqKeyDefaultsKey);
    const GroqClient::Config config =
        m_options.groqConfig.value_or(GroqClient::configFromDefaults(m_defaults));
    const bool usable = key && !key->isEmpty();
    if (m_groqClient && usable && m_groqKey == *key && m_groqURL == config.url)
        return;
    // A request under way must still end: the client it runs on is kept until the enhancer goes.
    if (m_groqClient)
        m_retiredClients.push_back(std::move(m_groqClient));
    if (!usable)
        return;
    m_groqKey = *key;
    m_groqURL = config.url;
    m_groqClient = m_options.makeChatClient ? m_options.makeChatClient(*key, config)
                                            : std::make_unique<GroqClient>(*key, config);
}

TextEnhancer::~TextEnhancer()
{
    cancelSpeculativeTask();
}

bool TextEnhancer::isCleanUpAvailable() const
{
    return m_backend.authToken().has_value() || m_groqClient != nullptr;
}

// MARK: enhancing

void TextEnhancer::enhanceText(const QString& text, const std::optional<QString>& appBundleID,
                               TokenHandler onToken, Completion done)
{
    if (text.isEmpty()) {
        done(EnhancementResult{text, false, std::nullopt});
        return;
    }
    // Cancelled before the cache is read: a speculative reply still on its way can no longer store.
    cancelSpeculativeTask();

    if (const std::optional<QString> cached = cachedSpeculativeResult(text)) {
        log("Speculative", QString::fromUtf8("Cache HIT \u2014 skipping Groq round-trip"));
        if (onToken) {
            for (const QString& character : graphemes::split(*cached))
                onToken(character);
        }
        clearCacheStrings();
        done(EnhancementResult{*cached, true, std::nullopt});
        return;
    }

    const bool backend = m_backend.authToken().has_value();
    log("TextEnhancer", QStringLiteral("Backend configured: ") + boolText(backend) +
                            QStringLiteral(", direct Groq: ") + boolText(m_groqClient != nullptr));
    auto call = std::make_shared<Call>(Call{text, appBundleID, std::move(onToken), std::move(done)});
    if (backend)
        runBackend(std::move(call));
    else if (m_groqClient)
        runGroq(std::move(call));
    else
        finish(call, EnhancementResult{text, false, std::nullopt});
}

void TextEnhancer::runBackend(std::shared_ptr<Call> call)
{
    std::weak_ptr<TextEnhancer*> alive = m_alive;
    Scheduler* mainQueue = &m_mainQueue;
    auto replied = [alive, mainQueue, call](Result<EnhanceClient::EnhanceReply> result) {
        mainQueue->post([alive, call, result] {
            const std::shared_ptr<TextEnhancer*> self = alive.lock();
            if (!self)
                return;
            TextEnhancer& enhancer = **self;
            if (result.ok()) {
                enhancer.clearCacheStrings();
                enhancer.finish(
                    call, EnhancementResult{result.value().text, result.value().wasEnhanced, std::nullopt});
                return;
            }
            log("TextEnhancer",
                QStringLiteral("Backend failed, trying direct Groq: ") + result.error().description());
            if (!enhancer.m_groqClient) {
                enhancer.finish(call, EnhancementResult{call->text, false, std::nullopt});
                return;
            }
            enhancer.runGroq(call);
        });
    };
    if (call->onToken)
        m_backend.enhanceStreaming(call->text, call->appBundleID, call->onToken, std::move(replied));
    else
        m_backend.enhance(call->text, call->appBundleID, false, std::move(replied));
}

void TextEnhancer::runGroq(std::shared_ptr<Call> call)
{
    std::weak_ptr<TextEnhancer*> alive = m_alive;
    Scheduler* mainQueue = &m_mainQueue;
    auto replied = [alive, mainQueue, call](Result<QString> result) {
        mainQueue->post([alive, call, result] {
            const std::shared_ptr<TextEnhancer*> self = alive.lock();
            if (!self)
                return;
            TextEnhancer& enhancer = **self;
            if (result.ok()) {
                enhancer.clearCacheStrings();
                enhancer.finish(call, EnhancementResult{result.value(), true, std::nullopt});
                return;
            }
            const QString description = result.error().description();
            log("TextEnhancer", QStringLiteral("Enhancement failed: ") + description);
            enhancer.finish(call, EnhancementResult{call->text, false, description});
        });
    };
    const QList<ChatMessage> messages = buildMessages(call->text, call->appBundleID);
    if (call->onToken)
        m_groqClient->streamChatCompletion(messages, m_model, maxTokens, temperature, call->onToken,
                                           std::move(replied));
    else
        m_groqClient->chatCompletion(messages, m_model, maxTokens, temperature, std::move(replied));
}

void TextEnhancer::finish(const std::shared_ptr<Call>& call, EnhancementResult result)
{
    if (Completion done = std::exchange(call->done, {}))
        done(result);
}

// MARK: speculative cache

void TextEnhancer::speculativeEnhance(const QString& partialText, const std::optional<QString>& appBundleID)
{
    const bool backend = m_backend.authToken().has_value();
    if (!backend && !m_groqClient)
        return;
    if (partialText.isEmpty() || partialText == m_speculativeCacheInput)
        return;
    const qsizetype wordCount = graphemes::words(partialText).size();
    if (wordCount < 5)
        return;
    cancelSpeculativeTask();

    auto task = std::make_shared<SpeculativeTask>();
    m_speculativeTask = task;
    log("Speculative",
        QStringLiteral("Enhancing partial (%1 words): ").arg(wordCount) + quotedClip(partialText, 50));

    std::weak_ptr<TextEnhancer*> alive = m_alive;
    Scheduler* mainQueue = &m_mainQueue;
    auto replied = [alive, mainQueue, task, partialText](Result<QString> result) {
        mainQueue->post([alive, task, partialText, result] {
            const std::shared_ptr<TextEnhancer*> self = alive.lock();
            // A cancelled request stores nothing and logs nothing, whatever it brought back.
            if (!self || task->cancelled)
                return;
            TextEnhancer& enhancer = **self;
            if (!result.ok()) {
                log("Speculative", QStringLiteral("Failed (non-critical): ") + result.error().description());
                return;
            }
            enhancer.m_speculativeCacheInput = partialText;
            enhancer.m_speculativeCache = result.value();
            log("Speculative", QStringLiteral("Cached result: ") + quotedClip(result.value(), 50));
        });
    };
    // The route is chosen when the request starts; there is no fallback for speculative requests.
    if (backend) {
        task->request = m_backend.enhance(partialText, appBundleID, true,
                                          [replied](Result<EnhanceClient::EnhanceReply> result) {
                                              if (result.ok())
                                                  replied(result.value().text);
                                              else
                                                  replied(result.error());
                                          });
    } else {
        task->request = m_groqClient->chatCompletion(buildMessages(partialText, appBundleID), m_model,
                                                     maxTokens, temperature, replied);
    }
}

void TextEnhancer::clearSpeculativeCache()
{
    cancelSpeculativeTask();
    clearCacheStrings();
    // This runs as each dictation begins. A keyring that did not answer the last reads is asked again, so
    // the key and the token still arrive once it is back (while it hangs, it answers "away" at once).
    if (m_credentialReads == 0 && m_keychain.isSystemStoreAway())
        reloadStoredCredentials();
}

void TextEnhancer::cancelSpeculativeTask()
{
    if (const std::shared_ptr<SpeculativeTask> task = std::exchange(m_speculativeTask, nullptr))
        task->cancel();
}

void TextEnhancer::clearCacheStrings()
{
    m_speculativeCache.clear();
    m_speculativeCacheInput.clear();
}

std::optional<QString> TextEnhancer::cachedSpeculativeResult(const QString& finalText)
{
    if (m_speculativeCache.isEmpty() || m_speculativeCacheInput.isEmpty())
        return std::nullopt;
    const QString finalKey = finalText.trimmed().toLower();
    const QString inputKey = m_speculativeCacheInput.trimmed().toLower();
    if (finalKey == inputKey)
        return m_speculativeCache;
    if (finalKey.startsWith(inputKey)) {
        const qsizetype k = graphemes::count(m_speculativeCacheInput);
        const QString delta = graphemes::dropPrefix(finalText, k).trimmed();
        const qsizetype deltaWords = graphemes::words(delta).size();
        if (deltaWords <= 3) {
            log("Speculative",
                QString::fromUtf8("Near match \u2014 stitching %1 word delta").arg(deltaWords));
            return stitchedAfterNearMatch(m_speculativeCache.trimmed(), delta);
        }
    }
    log("Speculative", QString::fromUtf8("Cache MISS \u2014 final transcript differs from cached input"));
    return std::nullopt;
}

// MARK: prompt

QString TextEnhancer::appContext(const std::optional<QString>& appBundleID)
{
    if (!appBundleID)
        return QString();
    static const std::pair<const char*, const QString& (*)()> rows[] = {
        {"slack", slackContext},       {"mail", emailContext},     {"outlook", emailContext},
        {"messages", chatContext},     {"whatsapp", chatContext},  {"telegram", chatContext},
        {"xcode", codeContext},        {"vscode", codeContext},    {"cursor", codeContext},
        {"terminal", terminalContext}, {"iterm", terminalContext}, {"warp", terminalContext},
        {"notion", notesContext},      {"docs", notesContext},     {"obsidian", notesContext},
        {"linear", projectContext},    {"jira", projectContext},   {"asana", projectContext},
    };
    for (const auto& [needle, context] : rows) {
        if (appBundleID->contains(QLatin1String(needle), Qt::CaseSensitive))
            return context();
    }
    // Linux applications go by other names ("Slack", "org.gnome.Terminal", "Thunderbird"): the same tones.
    switch (applicationKind(*appBundleID)) {
    case ApplicationKind::slack:
        return slackContext();
    case ApplicationKind::email:
        return emailContext();
    case ApplicationKind::chat:
        return chatContext();
    case ApplicationKind::codeEditor:
        return codeContext();
    case ApplicationKind::terminal:
        return terminalContext();
    case ApplicationKind::notes:
        return notesContext();
    case ApplicationKind::projectManagement:
        return projectContext();
    case ApplicationKind::other:
        break;
    }
    return QString();
}

QList<ChatMessage> TextEnhancer::buildMessages(const QString& text,
                                               const std::optional<QString>& appBundleID) const
{
    const auto user = QStringLiteral("user");
    const auto assistant = QStringLiteral("assistant");
    return {
        {QStringLiteral("system"), systemPrompt + appContext(appBundleID) + m_dictionary.promptSection()},
        {user, QStringLiteral("um so I want to I want to open mexico and like check the the build")},
        {assistant, QStringLiteral("So I want to open Xcode and check the build.")},
        {user, QStringLiteral("hello hello hello")},
        {assistant, QStringLiteral("Hello, hello, hello.")},
        {user, QStringLiteral("Continue please")},
        {assistant, QStringLiteral("Continue, please.")},
        {user, text},
    };
}

} // namespace quenda
