#pragma once

#include <QtGlobal>

#include <optional>

namespace quenda {

// X keycodes (evdev: the kernel's key number + 8) and the canonical virtual key codes, matched by the
// key's physical position, so a recorded hotkey means the same key whatever the layout.
class X11KeyCodes {
public:
    static constexpr int rightControl = 105;
    static constexpr int wakeUp = 151; // what many laptops send for their Fn key

    static std::optional<quint16> canonical(int xKeycode);
    // 0 when the canonical code has no key on a PC keyboard.
    static int xKeycode(quint16 canonical);
};

} // namespace quenda
