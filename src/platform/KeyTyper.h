#pragma once

#include <QString>

namespace quenda {

// Types text into whatever application is in front, one key press and release per user-perceived
// character, whatever the keyboard layout.
class KeyTyper {
public:
    virtual ~KeyTyper() = default;

    // False when the keyboard cannot be driven (no permission, no display); characters already typed stay.
    virtual bool typeText(const QString& text) = 0;
};

} // namespace quenda
