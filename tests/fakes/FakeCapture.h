#pragma once

#include "capture/AudioCapture.h"
#include "capture/HotkeyListener.h"
#include "capture/SpeechRecognition.h"

#include <QStringList>

namespace quenda::fakes {

// Microphone whose start succeeds or fails as the test says; the test delivers buffers and levels.
class FakeAudioCapture final : public AudioCapture {
public:
    void startRecording(StartCompletion done) override
    {
        calls << QStringLiteral("start");
        recording = completeStartAtOnce && !startError;
        if (completeStartAtOnce)
            done(startError);
        else
            pendingStart = std::move(done);
    }
    void stopRecording() override
    {
        calls << QStringLiteral("stop");
        recording = false;
    }
    bool isRecording() const override { return recording; }
    void setBufferHandler(BufferHandler) override {}
    void setLevelHandler(LevelHandler) override {}

    bool completeStartAtOnce = true;
    std::optional<QString> startError;
    bool recording = false;
    StartCompletion pendingStart;
    QStringList calls;
};

// Recogniser driven by the test: it reports whatever results and errors the test emits.
class FakeSpeechRecognition final : public SpeechRecognition {
public:
    std::optional<QString> startRecognition() override
    {
        calls << QStringLiteral("start");
        if (!startFailure)
            recognizing = true;
        return startFailure;
    }
    void stopRecognition() override
    {
        calls << QStringLiteral("stop");
        recognizing = false;
    }
    double finalAllowance() const override { return allowance; }
    void appendAudio(const AudioBuffer&) override {}
    void setOnResult(ResultHandler handler) override { onResult = std::move(handler); }
    void setOnError(ErrorHandler handler) override { onError = std::move(handler); }

    void emitResult(const QString& text, bool isFinal)
    {
        if (onResult)
            onResult(DictationResult{text, isFinal, {}, std::nullopt});
    }
    void emitError(const QString& description)
    {
        if (onError)
            onError(description);
    }

    std::optional<QString> startFailure;
    double allowance = 0;
    bool recognizing = false;
    ResultHandler onResult;
    ErrorHandler onError;
    QStringList calls;
};

class FakeHotkeyListener final : public HotkeyListener {
public:
    void loadSavedHotkey() override {}
    void startListening() override { listening = listenSucceeds; }
    void stopListening() override { listening = false; }
    bool isListening() const override { return listening; }
    void setOnRecordingStart(Callback callback) override { onStart = std::move(callback); }
    void setOnRecordingStop(Callback callback) override { onStop = std::move(callback); }
    void setOnRecordingCancel(Callback callback) override { onCancel = std::move(callback); }

    void press()
    {
        if (onStart)
            onStart();
    }
    void release()
    {
        if (onStop)
            onStop();
    }

    bool listenSucceeds = true;
    bool listening = false;
    Callback onStart;
    Callback onCancel;
    Callback onStop;
};

} // namespace quenda::fakes
