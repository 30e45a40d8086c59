#pragma once

#include "insert/InsertionTarget.h"

#include <QString>

#include <optional>

namespace quenda {

// Dictations in a row read as one text: a dictation that lands right after a word gets one separating
// space, and none at the start of a field, after a line break, after a space or an opening bracket, or
// before punctuation that belongs to the word before. What the caret follows is read from the field where
// its text can be read; elsewhere Quenda remembers how its last dictation into the same application ended.
class DictationSpacing {
public:
    // What the caret follows in the target's field: the text read before the caret ("" at the start of the
    // field), else the end of Quenda's own last dictation there; nothing when neither is known.
    std::optional<QString> precedingText(const std::optional<InsertionTarget>& target,
                                         const std::optional<QString>& readBeforeCaret) const;

    // The text as it goes in after the preceding text: one separator in front when it needs one, its own
    // leading spaces dropped. Unchanged when nothing is known of what precedes.
    static QString joined(const std::optional<QString>& preceding, const QString& text);
    // " " when the text needs a space after the preceding one, else "".
    static QString separator(const QString& preceding, const QString& text);

    // Notes how a dictation into the target ended, for fields whose text cannot be read.
    void remember(const std::optional<InsertionTarget>& target, const QString& inserted);

private:
    struct LastDictation {
        QString bundleID;
        qint64 processIdentifier = 0;
        QString ending;
    };
    std::optional<LastDictation> m_last;
};

} // namespace quenda
