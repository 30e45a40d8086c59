#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace quenda {

// Applications on the accessibility bus count text offsets in their own unit: UTF-16 code units (Qt,
// LibreOffice) or code points (GTK, browsers), whatever toolkit they say they are. The text itself tells:
// where it holds a character beyond the Basic Multilingual Plane, the application's character count
// matches only one of the two lengths.
class TextOffsets {
public:
    enum class Unit {
        either,     // the text holds no such character: both counts agree
        utf16,      // the count is the UTF-16 length
        codePoints, // the count is the number of code points
        unknown,    // the count matches neither: offsets into this text cannot be trusted
    };

    static Unit detect(const QString& text, qint64 characterCount);
    // The first unit that is not `either`; `either` when neither says.
    static Unit combine(Unit a, Unit b);

    // An application offset as a QString index (which may split a surrogate pair: the caller decides
    // what to make of that); nothing when it lies outside the text or the unit is unknown.
    static std::optional<qint64> toUtf16(const QString& text, qint64 offset, Unit unit);
    // A QString index as an application offset; nothing when it is outside the text or splits a pair.
    static std::optional<qint64> toNative(const QString& text, qint64 utf16Index, Unit unit);
};

} // namespace quenda
