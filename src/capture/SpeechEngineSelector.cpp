#include "capture/SpeechEngineSelector.h"

#include "base/UserDefaults.h"

namespace quenda {

SpeechEngineSelector::SpeechEngineSelector(UserDefaults& defaults, Scheduler& mainQueue,
                                           OfflineFactory offline, KeyProvider groqKey)
    : m_defaults(defaults)
    , m_mainQueue(mainQueue)
    , m_offlineFactory(std::move(offline))
    , m_groqKey(std::move(groqKey))
{}

std::optional<QString> SpeechEngineSelector::groqKey() const
{
    std::optional<QString> key = m_groqKey ? m_groqKey() : std::nullopt;
    if (!key || key->trimmed().isEmpty())
        key = m_defaults.stringValue(groqKeyFallbackKey);
    if (key && key->trimmed().isEmpty())
        key.reset();
    return key ? std::optional<QString>(key->trimmed()) : std::nullopt;
}

EndpointTranscriptionEngine::Config SpeechEngineSelector::endpointConfig() const
{
    EndpointTranscriptionEngine::Config config;
    const QString configured = m_defaults.stringValue(urlKey).value_or(QString()).trimmed();
    const std::optional<QString> key = groqKey();
    const QString model = m_defaults.stringValue(modelKey).value_or(QString()).trimmed();
    if (configured.isEmpty()) {
        if (!key)
            return config; // nowhere to send the audio
        config.url = QUrl(groqTranscriptionUrl);
        config.apiKey = *key;
        config.model = model.isEmpty() ? groqDefaultModel : model;
        return config;
    }
    config.url = EndpointTranscriptionEngine::endpointUrl(configured);
    // The Groq key belongs to Groq: another service only gets it when it is Groq under another address.
    if (key && config.url.host().endsWith(QLatin1String("groq.com")))
        config.apiKey = *key;
    const bool isGroq = config.url.host().endsWith(QLatin1String("groq.com"));
    config.model = !model.isEmpty() ? model : isGroq ? groqDefaultModel : otherDefaultModel;
    return config;
}

std::shared_ptr<SpeechEngine> SpeechEngineSelector::current()
{
    const QString choice = m_defaults.stringValue(engineKey).value_or(QStringLiteral("pocketsphinx"));
    if (choice == QLatin1String("endpoint")) {
        const EndpointTranscriptionEngine::Config config = endpointConfig();
        if (!m_endpoint || !(m_endpoint->config() == config)) {
            m_endpoint = std::make_shared<EndpointTranscriptionEngine>(config, m_mainQueue);
            if (configureEndpoint)
                configureEndpoint(*m_endpoint);
        }
        return m_endpoint;
    }
    if (!m_offline && m_offlineFactory)
        m_offline = m_offlineFactory();
    return m_offline;
}

} // namespace quenda
