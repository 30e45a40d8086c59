#pragma once

#include "insert/InsertionTarget.h"

#include <QString>

#include <functional>
#include <optional>

namespace quenda {

// Reads the whole text of the focused field back, some time after an insertion.
class FocusedValueReader {
public:
    virtual ~FocusedValueReader() = default;

    // The focused element's text; nothing when it cannot be read.
    using ValueRead = std::function<void(const std::optional<QString>& value)>;

    // Brings the target forward and, after a short pause for it to settle, reads the focused element's
    // text. `done` is called on the main queue, never once the reader is gone.
    virtual void readFocusedValue(const std::optional<InsertionTarget>& target, ValueRead done) = 0;
};

} // namespace quenda
