#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace quenda {

// One line of the training log: what the recogniser heard and what the clean-up produced, with optional
// feedback and the text the user says it should have been.
struct TrainingEntry {
    QString raw;
    QString enhanced;
    std::optional<QString> app;
    QString timestamp; // ISO 8601, UTC, whole seconds
    std::optional<QString> feedback;
    std::optional<QString> correction;
    std::optional<QString> context;

    bool operator==(const TrainingEntry& other) const = default;

    // Absent members are omitted, never written as null.
    QJsonObject toJson() const;
    // Needs "raw", "enhanced" and "timestamp" as strings; other members are optional, unknown ones ignored.
    static std::optional<TrainingEntry> fromJson(const QJsonObject& object);
};

} // namespace quenda
