#pragma once

#include "platform/HotkeyEventSource.h"
#include "platform/linux/X11Connection.h"

#include <QObject>
#include <QSet>

#include <memory>
#include <utility>
#include <vector>

class QSocketNotifier;
typedef union _XEvent XEvent;

namespace quenda {

// The keyboard of an X11 desktop, on a connection of its own served by the main thread's event loop.
// - Active path: a passive key grab on the root window for the hotkey, in every combination with the
//   extra modifiers and with NumLock/CapsLock, so the front application never sees it. A grab that
//   another client (usually the window manager) holds is reported as a conflict, never a crash.
// - Observing: XInput 2 raw key events of every keyboard, which keep nothing from anyone.
// - The Fn role: PC keyboards rarely report Fn, so Right Ctrl held alone plays it (or the key many
//   laptops send for Fn, XF86WakeUp). Its presses become flags-changed events of key 63 with the Fn bit.
//   It is observed, never grabbed: X has no way to let a grabbed event through after all, and Right Ctrl
//   is also the Control key of the user's shortcuts.
class X11HotkeySource final : public QObject, public HotkeyEventSource {
    Q_OBJECT
public:
    explicit X11HotkeySource(QObject* parent = nullptr);
    ~X11HotkeySource() override;

    bool isConnected() const { return m_x.isOpen(); }

    GrabResult installGrab(quint16 keyCode, quint64 modifiers, Filter filter) override;
    void removeGrab() override;
    bool startObserving(Observer observer) override;
    void stopObserving() override;
    std::optional<QString> layoutKeyName(quint16 keyCode) const override;
    QString functionKeyName() const override;

    // Handles whatever the server has sent (also run by the socket notifier).
    void processPendingEvents();

private:
    // Grabs the keys and remembers them; false when another client holds any of them.
    bool grabKeys(const std::vector<std::pair<int, unsigned int>>& keys);
    void ungrabKeys(const std::vector<std::pair<int, unsigned int>>& keys);
    void handle(XEvent& event);
    void keyEvent(int xKeycode, bool press, unsigned int coreState, bool fromGrab, bool serverRepeat);
    quint64 trackedModifierFlags() const;

    X11Connection m_x;
    int m_xiOpcode = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<std::pair<int, unsigned int>> m_grabs; // (keycode, modifier mask)
    Filter m_filter;
    Observer m_observer;
    QSet<int> m_down; // X keycodes held, as far as this connection saw
    bool m_fnRoleIsRealFn = false;
};

} // namespace quenda
