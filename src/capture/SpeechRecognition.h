#pragma once

#include "base/DictationResult.h"
#include "platform/AudioBuffer.h"

#include <QString>

#include <functional>
#include <optional>

namespace quenda {

// Turns the audio of one dictation into partial and final transcripts.
class SpeechRecognition {
public:
    using ResultHandler = std::function<void(const DictationResult&)>;
    using ErrorHandler = std::function<void(const QString& description)>;

    virtual ~SpeechRecognition() = default;

    // Returns the failure's description ("Speech recognition is not available on this device.") or nothing.
    virtual std::optional<QString> startRecognition() = 0;
    // Ends the audio; the final result may still arrive shortly after.
    virtual void stopRecognition() = 0;
    // After the stop: how long, in seconds, the engine says its final result may take.
    virtual double finalAllowance() const { return 0; }
    // Called on the audio thread: feeds the current request, if there is one.
    virtual void appendAudio(const AudioBuffer& buffer) = 0;
    // Both handlers are invoked on the recogniser's own thread.
    virtual void setOnResult(ResultHandler handler) = 0;
    virtual void setOnError(ErrorHandler handler) = 0;
};

} // namespace quenda
