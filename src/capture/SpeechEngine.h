#pragma once

#include "platform/AudioBuffer.h"

#include <QString>

#include <functional>
#include <memory>

namespace quenda {

struct SpeechEngineError {
    // The engine closed the current segment on its own (a long silence): not a failure, the dictation goes
    // on in a new segment.
    bool segmentEnded = false;
    QString description;
};

// One recognition request: audio in, partial and final text out. The text of a session is the text of
// that session's audio only.
class SpeechSession {
public:
    struct Callbacks {
        std::function<void(const QString& text, bool isFinal)> onResult;
        std::function<void(const SpeechEngineError& error)> onError;
    };

    virtual ~SpeechSession() = default;

    // Called on the audio capture thread.
    virtual void append(const AudioBuffer& buffer) = 0;
    // No more audio: the final result follows.
    virtual void endAudio() = 0;
    // Drops the request; callbacks may still be under way on the engine's thread but none starts later.
    virtual void cancel() = 0;
};

// A speech engine: PocketSphinx on the device, or a transcription service. Callbacks of its sessions run
// on the engine's own thread.
class SpeechEngine {
public:
    virtual ~SpeechEngine() = default;

    virtual bool isAvailable() const = 0;
    // Why the engine cannot be used, for the user (empty while it can).
    virtual QString unavailableReason() const { return {}; }
    // How long, in seconds, the final result may take once the audio has ended: asked right after the end,
    // so an engine may count the audio it still has to decode. Nothing: the final comes almost at once.
    virtual double finalAllowance() const { return 0; }
    // Safe to call from the engine's own callback thread (a new segment starts from there).
    virtual std::shared_ptr<SpeechSession> startSession(SpeechSession::Callbacks callbacks) = 0;
    // Frees what the engine keeps between dictations (its model in memory); the next session loads it
    // again, and the audio that arrives meanwhile waits for it. Nothing for engines that keep nothing.
    virtual void releaseModel() {}
};

} // namespace quenda
