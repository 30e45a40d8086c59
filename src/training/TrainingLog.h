#pragma once

#include "training/TrainingEntry.h"

#include <functional>

namespace quenda {

// The local log of transcript pairs and its upload to the backend.
class TrainingLog {
public:
    virtual ~TrainingLog() = default;

    // Appends one entry; returns at once.
    virtual void log(const TrainingEntry& entry) = 0;
    // Uploads the log when one is due (or when forced); `done` is called on any thread when it has finished.
    virtual void syncIfNeeded(bool force, std::function<void()> done) = 0;
};

} // namespace quenda
