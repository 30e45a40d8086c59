#pragma once

#include <functional>

namespace quenda {

// Watches the keyboard system-wide for the dictation hotkey. Both callbacks arrive on the main queue.
class HotkeyListener {
public:
    using Callback = std::function<void()>;

    virtual ~HotkeyListener() = default;

    // Reads the hotkey the user recorded, if any.
    virtual void loadSavedHotkey() = 0;
    virtual void startListening() = 0;
    virtual void stopListening() = 0;
    virtual bool isListening() const = 0;
    virtual void setOnRecordingStart(Callback callback) = 0;
    virtual void setOnRecordingStop(Callback callback) = 0;
    // The started dictation was the beginning of a shortcut with the hotkey's key: drop it silently.
    virtual void setOnRecordingCancel(Callback callback) = 0;
};

} // namespace quenda
