#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace quenda {

// One keyboard event in the canonical form the hotkey logic understands, whatever the platform.
// Key codes are the canonical virtual codes (0 = A, 2 = D, 49 = Space, 63 = Fn, 122 = F1 ...); flags use
// the canonical modifier bits below. The Fn bit is set while the key that plays the Fn role is held.
struct CanonicalKeyEvent {
    enum class Type { KeyDown = 10, KeyUp = 11, FlagsChanged = 12 };

    Type type = Type::KeyDown;
    quint16 keyCode = 0;
    quint64 flags = 0;
    bool isRepeat = false;
};

namespace ModifierFlag {
inline constexpr quint64 Shift = 0x20000;
inline constexpr quint64 Control = 0x40000;
inline constexpr quint64 Option = 0x80000;
inline constexpr quint64 Command = 0x100000;
inline constexpr quint64 Function = 0x800000;
inline constexpr quint64 All = Shift | Control | Option | Command | Function;
} // namespace ModifierFlag

// The system's keyboard as the hotkey listener sees it. Two ways to listen:
// - the active grab, which receives the hotkey's events before any application and keeps them from it;
// - observing, which sees every key of every application and keeps nothing from anyone.
// Events are delivered on the main thread.
class HotkeyEventSource {
public:
    // Returns true when the event was consumed by the hotkey (the adapter keeps it from applications where
    // the platform allows that choice).
    using Filter = std::function<bool(const CanonicalKeyEvent&)>;
    using Observer = std::function<void(const CanonicalKeyEvent&)>;

    enum class GrabResult {
        Installed,
        Conflict,      // another client holds this key combination
        Unavailable,   // no keyboard to grab (no display, extension missing)
        ObserveInstead // keeping the key from applications would break their shortcuts: observe it
    };

    virtual ~HotkeyEventSource() = default;

    // Grabs the key (with the required modifiers; extra modifiers still match) and hands its events to
    // the filter. Replaces an earlier grab.
    virtual GrabResult installGrab(quint16 keyCode, quint64 modifiers, Filter filter) = 0;
    virtual void removeGrab() = 0;
    // Sees every key. False when observing is impossible.
    virtual bool startObserving(Observer observer) = 0;
    virtual void stopObserving() = 0;

    // The character the key produces on the current layout with no modifier, if any.
    virtual std::optional<QString> layoutKeyName(quint16 keyCode) const = 0;
    // The name of the physical key that plays the Fn role ("Fn" where the keyboard reports one).
    virtual QString functionKeyName() const = 0;
};

} // namespace quenda
