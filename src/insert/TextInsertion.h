#pragma once

#include "insert/InsertionTarget.h"

#include <QString>

#include <functional>
#include <optional>

namespace quenda {

// Puts a finished dictation into the target application through the chain of insertion methods.
class TextInsertion {
public:
    using StatusHandler = std::function<void(const QString& status)>;

    virtual ~TextInsertion() = default;

    // Returns at once; the outcome arrives later as status lines.
    virtual void insertText(const QString& text, const std::optional<InsertionTarget>& target) = 0;
    // Status lines arrive on the main queue, in order.
    virtual void setOnStatusChange(StatusHandler handler) = 0;
    // The front application and its focused element, captured when a dictation starts.
    virtual std::optional<InsertionTarget> captureInsertionTarget() = 0;
    // The text just before the caret (or the selection) of the target's focused field, at least its last
    // character: "" at the start of the field, nothing when the field's text cannot be read.
    virtual std::optional<QString> textBeforeCaret(const InsertionTarget& target) = 0;
};

} // namespace quenda
