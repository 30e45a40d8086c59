#include "platform/linux/TextOffsets.h"

namespace quenda {

namespace {

qint64 codePointCount(QStringView text)
{
    qint64 n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!(text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate()))
            ++n;
    }
    return n;
}

bool splitsPair(const QString& text, qint64 index)
{
    return index > 0 && index < text.size() && text[index].isLowSurrogate() &&
           text[index - 1].isHighSurrogate();
}

} // namespace

TextOffsets::Unit TextOffsets::detect(const QString& text, qint64 characterCount)
{
    const qint64 utf16 = text.size();
    const qint64 codePoints = codePointCount(text);
    if (utf16 == codePoints)
        return characterCount == utf16 ? Unit::either : Unit::unknown;
    if (characterCount == utf16)
        return Unit::utf16;
    if (characterCount == codePoints)
        return Unit::codePoints;
    return Unit::unknown;
}

TextOffsets::Unit TextOffsets::combine(Unit a, Unit b)
{
    return a == Unit::either ? b : a;
}

std::optional<qint64> TextOffsets::toUtf16(const QString& text, qint64 offset, Unit unit)
{
    if (unit == Unit::unknown || offset < 0)
        return std::nullopt;
    if (unit != Unit::codePoints)
        return offset <= text.size() ? std::optional(offset) : std::nullopt;
    qint64 index = 0;
    for (qint64 n = 0; n < offset; ++n) {
        if (index >= text.size())
            return std::nullopt;
        index +=
            (text[index].isHighSurrogate() && index + 1 < text.size() && text[index + 1].isLowSurrogate())
                ? 2
                : 1;
    }
    return index;
}

std::optional<qint64> TextOffsets::toNative(const QString& text, qint64 utf16Index, Unit unit)
{
    if (unit == Unit::unknown || utf16Index < 0 || utf16Index > text.size() || splitsPair(text, utf16Index))
        return std::nullopt;
    if (unit != Unit::codePoints)
        return utf16Index;
    return codePointCount(QStringView(text).left(utf16Index));
}

} // namespace quenda
