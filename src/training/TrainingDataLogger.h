#pragma once

#include "training/TrainingLog.h"
#include "training/TrainingUploader.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace quenda {

enum class FeedbackType { good, bad };
QString feedbackRawValue(FeedbackType feedback);

// The local log of transcript pairs, one JSON object per line, its export for fine-tuning and its upload.
// Appends and feedback rewrites run on one private serial worker ("com.quenda.training-data") and return at
// once; reads run on the caller's thread and skip lines that do not decode (a line being written included).
// The log is readable by the user only. An append writes one line in one go; a rewrite replaces the whole
// file by a rename and keeps the lines it cannot decode, so neither a crash nor a bad line loses the log.
class TrainingDataLogger final : public TrainingLog {
public:
    using Clock = std::function<QDateTime()>;

    // `uploader` may be null (nothing is ever uploaded).
    TrainingDataLogger(QString logFilePath, TrainingUploader* uploader, Clock clock = {});
    ~TrainingDataLogger() override;

    // <data location>/Quenda/training-data.jsonl, ~/.local/share/Quenda/training-data.jsonl on Linux.
    static QString defaultLogFilePath();

    static constexpr double syncInterval = 300; // seconds between uploads, unless forced

    void log(const TrainingEntry& entry) override;
    // Marks the most recent entry whose enhanced text is exactly `enhancedText`; absent values clear fields.
    void recordFeedback(const QString& enhancedText, FeedbackType feedback, std::optional<QString> correction,
                        std::optional<QString> context);

    QList<TrainingEntry> allEntries() const;
    int flaggedCount() const;
    QString exportForFineTuning() const;
    // The log's path; its folder is created (errors ignored) every time it is asked for.
    QString logFileURL() const;

    // Uploads the whole log when forced, or when it grew and the last upload is five minutes old. Syncs
    // never overlap: one asked for while another runs is decided after that one has finished, on the
    // logger's worker, after the appends queued before it. `done` is called on any thread.
    void syncIfNeeded(bool force, std::function<void()> done) override;

    // Waits until every append, rewrite and sync decision queued so far has run (for tests and shutdown).
    void waitForPendingWork();
    // The in-memory sync fields.
    int lastSyncedCount() const;
    QDateTime lastSyncTime() const;

    // The log's text to entries: lines split at "\n", empty and undecodable ones skipped.
    static QList<TrainingEntry> decodeLog(const QByteArray& contents);
    static std::optional<TrainingEntry> decodeLine(const QByteArray& line);
    static QByteArray encodeLine(const TrainingEntry& entry);

private:
    struct Core;
    std::shared_ptr<Core> m_core;
};

} // namespace quenda
