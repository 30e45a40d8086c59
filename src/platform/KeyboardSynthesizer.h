#pragma once

#include <QString>

namespace quenda {

// Synthetic keyboard events for the typing and paste fallbacks.
class KeyboardSynthesizer {
public:
    enum class Outcome { typed, noEventSource, eventFailed };

    virtual ~KeyboardSynthesizer() = default;

    // Whether synthetic key events may be posted at all.
    virtual bool canPostEvents() const = 0;
    // Types the text into the front application, one press and release per character; on eventFailed the
    // characters before the failing one stay typed.
    virtual Outcome typeCharacters(const QString& text) = 0;
    // Whether the events of a key combination such as "ctrl+v" could be made right now.
    virtual bool canCreateShortcut(const QString& combination) = 0;
    // Presses and releases the combination; false when nothing could be posted.
    virtual bool postShortcut(const QString& combination) = 0;
};

} // namespace quenda
