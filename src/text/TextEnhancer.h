#pragma once

#include "base/Settings.h"
#include "net/EnhanceClient.h"
#include "net/GroqClient.h"
#include "net/HttpSession.h"
#include "text/TextEnhancement.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quenda {

class KeychainStore;
class PersonalDictionary;
class Scheduler;
class UserDefaults;

// Turns a raw transcript into clean text with a language model: through the backend when the user is signed
// in, else (and as the backend's fallback) directly against Groq with the user's key and a prompt built here.
// Holds the speculative cache that cleans partial transcripts up while the user still speaks.
//
// Threads: every operation is called on the main queue, and all bookkeeping (the route, the cache, the
// fallback) runs there; network replies are posted back to it. Only the streamed pieces are handed to onToken
// straight from the network thread, as they arrive. The speculative fields are touched on the main queue
// only, and a speculative request is cancelled before the cache is read or cleared, so a cancelled request
// can never store a result: cancellation is the only guard, and no lock is needed.
class TextEnhancer final : public TextEnhancement {
public:
    struct Options {
        // Overrides the Groq client's configuration (tests point it at a loopback server with short limits);
        // without it the URL comes from the user defaults ("chatCompletionsURL").
        std::optional<GroqClient::Config> groqConfig;
        // Makes the direct client for a key and a configuration; without it, a GroqClient.
        std::function<std::unique_ptr<ChatCompletionClient>(const QString& apiKey, const GroqClient::Config&)>
            makeChatClient;
    };

    // Reads the stored backend token into the backend client and the Groq key (Keychain, then the user
    // default "groq_api_key"); a non-empty key creates the Groq client, once. The reads go on in the
    // background: clean-up is available once they have arrived.
    TextEnhancer(Scheduler& mainQueue, EnhanceClient& backend, KeychainStore& keychain,
                 UserDefaults& defaults, PersonalDictionary& dictionary);
    TextEnhancer(Scheduler& mainQueue, EnhanceClient& backend, KeychainStore& keychain,
                 UserDefaults& defaults, PersonalDictionary& dictionary, Options options);
    ~TextEnhancer() override;

    static constexpr const char* defaultModel = "llama-3.3-70b-versatile";
    static constexpr int maxTokens = 512;
    static constexpr double temperature = 0.3;
    static inline const QString groqKeyDefaultsKey = settings::groqApiKey.key();
    // Developer mode may name another model for the chat-completions endpoint.
    static inline const QString modelKey = settings::chatModel.key();

    static const QString systemPrompt;

    bool isCleanUpAvailable() const override;
    // Reads the stored token and Groq key again, in the background.
    void reloadStoredCredentials();
    // Runs `then` once the stored credentials asked for so far have been read (at once when they have).
    void whenCredentialsLoaded(std::function<void()> then);
    void enhanceText(const QString& text, const std::optional<QString>& appBundleID, TokenHandler onToken,
                     Completion done) override;
    void speculativeEnhance(const QString& partialText, const std::optional<QString>& appBundleID) override;
    void clearSpeculativeCache() override;

    // The cached result that serves this final transcript (exact or near match), or nothing.
    std::optional<QString> cachedSpeculativeResult(const QString& finalText);
    QList<ChatMessage> buildMessages(const QString& text, const std::optional<QString>& appBundleID) const;
    static QString appContext(const std::optional<QString>& appBundleID);

    bool hasDirectRoute() const { return m_groqClient != nullptr; }
    const QString& model() const { return m_model; }
    const QString& speculativeCache() const { return m_speculativeCache; }
    const QString& speculativeCacheInput() const { return m_speculativeCacheInput; }
    bool hasSpeculativeTask() const { return m_speculativeTask != nullptr; }

private:
    struct SpeculativeTask {
        std::atomic_bool cancelled{false};
        RequestHandle request;
        void cancel()
        {
            cancelled = true;
            request.cancel();
        }
    };
    struct Call;

    void runBackend(std::shared_ptr<Call> call);
    void runGroq(std::shared_ptr<Call> call);
    void finish(const std::shared_ptr<Call>& call, EnhancementResult result);
    void clearCacheStrings();
    void cancelSpeculativeTask();
    void loadGroqClient();
    // Reads a stored secret in the background and hands it to `use` on the main queue, while this lives.
    void readStored(const QString& account, std::function<void(TextEnhancer&, std::optional<QString>)> use);
    void useGroqKey(std::optional<QString> key);
    void applyGroqSettings();
    void applyModel();
    void credentialReadDone();

    Scheduler& m_mainQueue;
    EnhanceClient& m_backend;
    KeychainStore& m_keychain;
    UserDefaults& m_defaults;
    PersonalDictionary& m_dictionary;
    Options m_options;
    QObject m_settingsWatch; // the context of the settings' change handlers
    QString m_model;
    std::unique_ptr<ChatCompletionClient> m_groqClient;
    QString m_groqKey;
    QUrl m_groqURL;
    std::vector<std::unique_ptr<ChatCompletionClient>> m_retiredClients;
    std::optional<QString> m_storedGroqKey; // as the keychain last gave it
    int m_credentialReads = 0;
    std::vector<std::function<void()>> m_credentialWaiters;
    QString m_speculativeCache;
    QString m_speculativeCacheInput;
    std::shared_ptr<SpeculativeTask> m_speculativeTask;
    // Replies posted to the main queue find out through this whether the enhancer still exists.
    std::shared_ptr<TextEnhancer*> m_alive;
};

} // namespace quenda
