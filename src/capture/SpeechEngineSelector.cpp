#include "capture/SpeechEngineSelector.h"

#include "base/Log.h"
#include "base/UserDefaults.h"
#include "capture/WhisperModelCatalog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

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
    if (choice == QLatin1String("whisper")) {
        if (std::shared_ptr<SpeechEngine> engine = whisper())
            return engine;
    }
    if (!m_offline && m_offlineFactory)
        m_offline = m_offlineFactory();
    return m_offline;
}

std::shared_ptr<SpeechEngine> SpeechEngineSelector::whisper()
{
    const QString path = WhisperModelCatalog::chosenModelPath(m_defaults);
    // A model file replaced under the same name (a new download) needs a new engine.
    const QString key =
        path + QLatin1Char('@') + QString::number(QFileInfo(path).lastModified().toMSecsSinceEpoch());
    if (key != m_whisperKey) {
        m_whisperKey = key;
        m_whisper = m_whisperFactory ? m_whisperFactory(path) : nullptr;
        m_toldWhisperFallback = false;
    }
    if (m_whisper && m_whisper->isAvailable())
        return m_whisper;
    if (!m_toldWhisperFallback) {
        m_toldWhisperFallback = true;
        const QString why = m_whisper
                                ? m_whisper->unavailableReason()
                                : QCoreApplication::translate("SpeechEngineSelector",
                                                              "This build of Quenda has no whisper engine.");
        log("Speech",
            QStringLiteral("The whisper engine is unavailable: %1 Using PocketSphinx instead.").arg(why));
    }
    return nullptr;
}

} // namespace quenda
