#pragma once

#include "base/Settings.h"
#include "capture/HotkeyListener.h"
#include "platform/HotkeyEventSource.h"

#include <QObject>
#include <QString>

#include <optional>

namespace quenda {

class Scheduler;
class UserDefaults;

enum class HotkeyMode { holdToTalk, toggle };
QString hotkeyModeLabel(HotkeyMode mode);

// Watches the keyboard for the one dictation hotkey and turns it into start and stop callbacks, always
// queued on the main queue. Prefers the active grab (which keeps the hotkey from the front application) and
// falls back to observing when the grab cannot be had.
class HotkeyManager final : public QObject, public HotkeyListener {
    Q_OBJECT
public:
    static constexpr quint16 functionKeyCode = 63;
    static constexpr quint16 defaultKeyCode = functionKeyCode;
    static inline const QString keyCodeKey = settings::hotkeyKeyCode.key();
    static inline const QString modifiersKey = settings::hotkeyModifiers.key();

    HotkeyManager(HotkeyEventSource& source, Scheduler& mainQueue, UserDefaults& defaults,
                  QObject* parent = nullptr);
    ~HotkeyManager() override;

    // HotkeyListener
    void loadSavedHotkey() override;
    void startListening() override;
    void stopListening() override;
    bool isListening() const override { return m_isListening; }
    void setOnRecordingStart(Callback callback) override { m_onRecordingStart = std::move(callback); }
    void setOnRecordingStop(Callback callback) override { m_onRecordingStop = std::move(callback); }
    void setOnRecordingCancel(Callback callback) override { m_onRecordingCancel = std::move(callback); }

    HotkeyMode mode() const { return m_mode; }
    // Takes effect with the next event; a toggled dictation stays toggled.
    void setMode(HotkeyMode mode);
    quint16 keyCode() const { return m_keyCode; }
    quint64 modifierFlags() const { return m_modifierFlags; }
    const std::optional<QString>& listenerErrorMessage() const { return m_listenerErrorMessage; }
    bool isUsingActiveGrab() const { return m_grabInstalled; }

    void setHotkey(quint16 keyCode, quint64 modifierFlags);

    // A start or stop asked for elsewhere (the remote control) goes the way of a key press, and moves the
    // toggle state with it, so the next press of the key does the opposite.
    void requestStart();
    void requestStop();
    void resetToDefault();

    QString displayString() const;
    QString keyName(quint16 keyCode) const;
    static bool isFunctionKey(quint16 keyCode);

    // The event paths, public so the adapter's behaviour can be driven directly.
    bool handleGrabbedEvent(const CanonicalKeyEvent& event);
    void handleObservedEvent(const CanonicalKeyEvent& event);

Q_SIGNALS:
    void stateChanged();

private:
    bool handleFnChange(bool fnDown);
    void handleChord();
    bool installGrab();
    void installObserver(std::optional<QString> whyNotGrabbed);
    void queueStart();
    void queueStop();
    void queue(Callback HotkeyManager::*which);
    void setListening(bool listening, std::optional<QString> error);

    HotkeyEventSource& m_source;
    Scheduler& m_mainQueue;
    UserDefaults& m_defaults;

    HotkeyMode m_mode = HotkeyMode::holdToTalk;
    quint16 m_keyCode = defaultKeyCode;
    quint64 m_modifierFlags = 0;
    bool m_isListening = false;
    std::optional<QString> m_listenerErrorMessage;
    Callback m_onRecordingStart;
    Callback m_onRecordingStop;
    Callback m_onRecordingCancel;
    bool m_grabInstalled = false;
    bool m_observeInstead = false;
    bool m_observing = false;
    bool m_isToggleActive = false;
    bool m_lastFnPressed = false;
    // The Fn role's press started a dictation, and no other key has been pressed since.
    bool m_fnStartedDictation = false;
    bool m_fnChorded = false;
};

} // namespace quenda
