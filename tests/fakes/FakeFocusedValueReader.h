#pragma once

#include "insert/FocusedValueReader.h"

#include <QList>

namespace quenda::fakes {

// The focused field's text as the test sets it; nothing when it "cannot be read".
class FakeFocusedValueReader final : public FocusedValueReader {
public:
    void readFocusedValue(const std::optional<InsertionTarget>& target, ValueRead done) override
    {
        targets.append(target);
        done(value);
    }
    std::optional<QString> value;
    QList<std::optional<InsertionTarget>> targets;
};

} // namespace quenda::fakes
