#pragma once

#include "insert/InsertionTarget.h"

#include <QString>

#include <optional>

namespace quenda {

// What a cleaned-up dictation inserted, captured by value when the read-back is scheduled.
struct PostPasteRecord {
    QString insertedText;
    QString rawText;
    std::optional<InsertionTarget> target;
    std::optional<QString> appBundleID;
};

// Reads the field back some seconds after an insertion and learns from the user's edit of it.
class PostPasteCapture {
public:
    virtual ~PostPasteCapture() = default;

    // Runs on the main queue; the orchestrator calls it only while no dictation is under way.
    virtual void capturePostPasteCorrection(const PostPasteRecord& record) = 0;
};

} // namespace quenda
