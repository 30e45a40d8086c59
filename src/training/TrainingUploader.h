#pragma once

#include "training/TrainingEntry.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace quenda {

// Where the training log is uploaded: the backend, when the user is signed in.
class TrainingUploader {
public:
    virtual ~TrainingUploader() = default;

    virtual bool hasAuthToken() const = 0;
    // Sends every entry; `done` gets nothing on success or the error's description, on any thread.
    virtual void uploadTrainingEntries(const QList<TrainingEntry>& entries,
                                       std::function<void(std::optional<QString> error)> done) = 0;
};

} // namespace quenda
