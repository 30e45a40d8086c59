#pragma once

#include "capture/SpeechEngine.h"

#include <QList>

#include <memory>

namespace quenda::fakes {

// A speech engine whose sessions say what the test makes them say.
class FakeSpeechEngine final : public SpeechEngine {
public:
    struct Session final : SpeechSession {
        explicit Session(Callbacks c)
            : callbacks(std::move(c))
        {}
        void append(const AudioBuffer& buffer) override { frames += buffer.frameCount(); }
        void endAudio() override { ended = true; }
        void cancel() override { cancelled = true; }

        void result(const QString& text, bool isFinal) { callbacks.onResult(text, isFinal); }
        void error(const QString& description, bool segmentEnded = false)
        {
            callbacks.onError(SpeechEngineError{segmentEnded, description});
        }

        Callbacks callbacks;
        qsizetype frames = 0;
        bool ended = false;
        bool cancelled = false;
    };

    bool isAvailable() const override { return available; }
    double finalAllowance() const override { return allowance; }
    std::shared_ptr<SpeechSession> startSession(SpeechSession::Callbacks callbacks) override
    {
        auto session = std::make_shared<Session>(std::move(callbacks));
        sessions.append(session);
        return session;
    }
    void releaseModel() override { ++releases; }

    bool available = true;
    double allowance = 0;
    int releases = 0;
    QList<std::shared_ptr<Session>> sessions;
};

} // namespace quenda::fakes
