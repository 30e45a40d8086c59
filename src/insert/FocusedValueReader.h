#pragma once

#include "insert/InsertionTarget.h"

#include <QString>

#include <optional>

namespace quenda {

// Reads the whole text of the focused field back, some time after an insertion.
class FocusedValueReader {
public:
    virtual ~FocusedValueReader() = default;

    // Brings the target forward, waits briefly, and returns the focused element's text; nothing when it
    // cannot be read. Blocks the calling thread for about 0.1 s.
    virtual std::optional<QString> readFocusedValue(const std::optional<InsertionTarget>& target) = 0;
};

} // namespace quenda
