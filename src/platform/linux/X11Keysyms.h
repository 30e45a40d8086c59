#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace quenda {

// Characters and the X keysyms that type them. Layouts name most letters with the legacy keysyms of the X11
// tables (Cyrillic_es, Greek_alpha, eacute ...) and some with the Unicode keysyms (0x01000000 + code
// point); both mean the same character.
class X11Keysyms {
public:
    // Every keysym that types the code point, the table's own first; empty for control characters that
    // type nothing.
    static QList<unsigned long> forCodePoint(char32_t codePoint);
    // The character a keysym types, if it types one.
    static std::optional<QString> text(unsigned long keysym);
};

} // namespace quenda
