#pragma once

#include "base/Lifetime.h"
#include "platform/HotkeyEventSource.h"

#include <QObject>
#include <QString>

namespace quenda {

class HotkeyManager;
class Scheduler;

// The settings row that shows the dictation hotkey and records a new one. While it records, the global
// listener is stopped (so the keys pressed do not start a dictation) and every key of the desktop is
// observed: Escape cancels, a modifier alone is ignored, a plain letter or a Shift+letter is refused with
// a short error, anything else becomes the hotkey. Every change the keys cause happens on the main queue.
class HotkeyRecorderModel : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 escapeKeyCode = 53;
    static constexpr double errorDuration = 2.0;

    HotkeyRecorderModel(HotkeyManager& manager, HotkeyEventSource& keyboard, Scheduler& mainQueue,
                        QObject* parent = nullptr);
    // Puts the listener back when the row goes away while recording.
    ~HotkeyRecorderModel() override;

    bool isRecording() const { return m_isRecording; }
    bool showError() const { return m_showError; }
    const QString& errorMessage() const { return m_errorMessage; }
    // The hotkey button's title, "Ctrl+Alt+D".
    QString hotkeyTitle() const;
    // "Reset" is offered unless the hotkey is the default (the Fn role, no modifiers).
    bool canReset() const;
    // The line under the row: the error while one shows, else how to use the hotkey in the current mode.
    QString caption() const;

    // The hotkey button: the row shows its prompt.
    void beginRecording();
    // The prompt is on screen: the listener stops and the keyboard is observed.
    void startRecording();
    // Cancel, Escape, or an accepted key: observing ends and the listener starts again.
    void stopRecording();
    void resetHotkey();
    void handleRecordedEvent(const CanonicalKeyEvent& event);

Q_SIGNALS:
    void changed();

private:
    void acceptHotkey(quint16 keyCode, quint64 modifiers);
    void showRecordingError(const QString& text);

    HotkeyManager& m_manager;
    HotkeyEventSource& m_keyboard;
    Scheduler& m_mainQueue;
    bool m_isRecording = false;
    bool m_observing = false;
    bool m_showError = false;
    QString m_errorMessage;
    Lifetime m_lifetime;
};

} // namespace quenda
