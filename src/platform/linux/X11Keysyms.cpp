#include "platform/linux/X11Keysyms.h"

#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

namespace quenda {

QList<unsigned long> X11Keysyms::forCodePoint(char32_t codePoint)
{
    switch (codePoint) {
    case '\n':
    case '\r':
        return {XK_Return};
    case '\t':
        return {XK_Tab};
    default:
        break;
    }
    if (codePoint < 0x20 || (codePoint >= 0x7f && codePoint < 0xa0) || codePoint > 0x10ffff ||
        (codePoint >= 0xd800 && codePoint <= 0xdfff))
        return {};
    QList<unsigned long> keysyms;
    const xkb_keysym_t table = xkb_utf32_to_keysym(codePoint);
    if (table != XKB_KEY_NoSymbol)
        keysyms << table;
    const unsigned long unicode = 0x01000000u | codePoint;
    // Latin-1 has no Unicode keysym of its own: its keysyms are its code points.
    if (codePoint > 0xff && !keysyms.contains(unicode))
        keysyms << unicode;
    return keysyms;
}

std::optional<QString> X11Keysyms::text(unsigned long keysym)
{
    const char32_t codePoint = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(keysym));
    if (codePoint < 0x20 || codePoint == 0x7f)
        return std::nullopt;
    return QString::fromUcs4(&codePoint, 1);
}

} // namespace quenda
