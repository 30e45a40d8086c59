#pragma once

#include "base/Settings.h"
#include "capture/EndpointTranscriptionEngine.h"

#include <functional>
#include <memory>

namespace quenda {

class Scheduler;
class UserDefaults;

// Picks the speech engine the settings name: "speechEngine" = "pocketsphinx" (the default: audio stays on
// the device), "whisper" (a whisper model in the process, "whisperModelPath"; PocketSphinx stands in, with
// a log line saying why, while it cannot be used) or "endpoint" (a transcription service at
// "transcriptionURL" with "transcriptionModel"; a user with a Groq key and no URL of their own gets Groq's
// Whisper). Engines are kept and reused while the settings stay the same.
class SpeechEngineSelector {
public:
    static inline const QString engineKey = settings::speechEngine.key();
    static inline const QString urlKey = settings::transcriptionURL.key();
    static inline const QString modelKey = settings::transcriptionModel.key();
    static inline const QString groqKeyFallbackKey = settings::groqApiKey.key();
    static inline const QString groqTranscriptionUrl =
        QStringLiteral("https://api.groq.com/openai/v1/audio/transcriptions");
    static inline const QString groqDefaultModel = QStringLiteral("whisper-large-v3-turbo");
    static inline const QString otherDefaultModel = QStringLiteral("whisper-1");

    using OfflineFactory = std::function<std::shared_ptr<SpeechEngine>()>;
    // Makes the whisper engine for a model file; it loads the model on its own thread.
    using WhisperFactory = std::function<std::shared_ptr<SpeechEngine>(const QString& modelPath)>;
    // The user's Groq key from the secret store; nothing when none is stored.
    using KeyProvider = std::function<std::optional<QString>()>;

    SpeechEngineSelector(UserDefaults& defaults, Scheduler& mainQueue, OfflineFactory offline,
                         KeyProvider groqKey = {});

    // Without one (a build without the whisper engine), "whisper" falls back at once.
    void setWhisperFactory(WhisperFactory factory) { m_whisperFactory = std::move(factory); }

    // The engine to use now; nothing when the chosen one cannot be built.
    std::shared_ptr<SpeechEngine> current();
    // The endpoint settings as they stand (an empty URL when none is usable).
    EndpointTranscriptionEngine::Config endpointConfig() const;
    // Used for the endpoint engine's requests (tests shorten the timeouts).
    std::function<void(EndpointTranscriptionEngine&)> configureEndpoint;

private:
    std::optional<QString> groqKey() const;

    UserDefaults& m_defaults;
    Scheduler& m_mainQueue;
    OfflineFactory m_offlineFactory;
    KeyProvider m_groqKey;
    std::shared_ptr<SpeechEngine> m_offline;
    std::shared_ptr<EndpointTranscriptionEngine> m_endpoint;
    std::shared_ptr<SpeechEngine> whisper();
    WhisperFactory m_whisperFactory;
    std::shared_ptr<SpeechEngine> m_whisper;
    QString m_whisperKey; // the model path and its modification time
    bool m_toldWhisperFallback = false;
};

} // namespace quenda
