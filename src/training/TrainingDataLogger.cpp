#include "training/TrainingDataLogger.h"

#include "base/Log.h"
#include "base/Scheduler.h"
#include "base/WorkerThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <deque>

namespace quenda {

QString feedbackRawValue(FeedbackType feedback)
{
    return feedback == FeedbackType::good ? QStringLiteral("good") : QStringLiteral("bad");
}

namespace {

void trainingLog(const QString& message)
{
    log("TrainingData", message);
}

QList<TrainingEntry> readEntries(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return TrainingDataLogger::decodeLog(file.readAll());
}

} // namespace

// Everything the worker touches. Worker tasks hold it by plain pointer (the queue, declared last, is drained
// before the rest goes); replies from the network hold it weakly.
struct TrainingDataLogger::Core {
    QString path;
    TrainingUploader* uploader = nullptr;
    Clock clock;

    // Worker only.
    int lastSyncedCount = 0;
    QDateTime lastSyncTime = distantPast();
    bool syncInFlight = false;
    std::deque<std::pair<bool, std::function<void()>>> waitingSyncs;

    std::weak_ptr<Core> self;
    WorkerThread queue{QStringLiteral("com.quenda.training-data")};

    QString filePath() const
    {
        QDir().mkpath(QFileInfo(path).absolutePath()); // a failure shows as a failed write, which is ignored
        return path;
    }

    void append(const TrainingEntry& entry)
    {
        const QByteArray line = encodeLine(entry) + '\n';
        const QString file = filePath();
        QFile out(file);
        if (QFileInfo::exists(file)) {
            if (!out.open(QIODevice::WriteOnly | QIODevice::Append))
                return; // the line is dropped
        } else if (!out.open(QIODevice::WriteOnly)) {
            return;
        }
        out.write(line);
        out.close();
        trainingLog(QStringLiteral("Logged pair (%1 total)").arg(readEntries(file).size()));
    }

    void rewriteWithFeedback(const QString& enhancedText, FeedbackType feedback,
                             const std::optional<QString>& correction, const std::optional<QString>& context)
    {
        const QString file = filePath();
        QList<TrainingEntry> entries = readEntries(file);
        for (qsizetype i = entries.size() - 1; i >= 0; --i) {
            TrainingEntry& entry = entries[i];
            if (entry.enhanced != enhancedText)
                continue;
            entry.feedback = feedbackRawValue(feedback);
            entry.correction = correction;
            entry.context = context;
            QByteArray contents;
            for (const TrainingEntry& each : entries)
                contents += encodeLine(each) + '\n';
            QFile out(file);
            if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                out.write(contents);
            return;
        }
    }

    void requestSync(bool force, std::function<void()> done)
    {
        if (syncInFlight) {
            waitingSyncs.emplace_back(force, std::move(done));
            return;
        }
        if (!uploader || !uploader->hasAuthToken()) {
            done();
            return;
        }
        const QList<TrainingEntry> entries = readEntries(filePath());
        const int count = int(entries.size());
        if (count == 0) {
            done();
            return;
        }
        const double elapsed = secondsBetween(lastSyncTime, clock());
        if (!force && !(lastSyncedCount < count && elapsed >= syncInterval)) {
            done();
            return;
        }
        syncInFlight = true;
        Core* raw = this;
        std::weak_ptr<Core> weak = self;
        uploader->uploadTrainingEntries(
            entries, [raw, weak, count, done](std::optional<QString> error) mutable {
                const std::shared_ptr<Core> core = weak.lock();
                if (!core) {
                    done();
                    return;
                }
                if (core->queue.isCurrent()) { // answered at once, on the worker
                    raw->syncFinished(count, error, std::move(done));
                    return;
                }
                core->queue.post([raw, count, error, done = std::move(done)]() mutable {
                    raw->syncFinished(count, error, std::move(done));
                });
            });
    }

    void syncFinished(int count, const std::optional<QString>& error, std::function<void()> done)
    {
        if (error) {
            trainingLog(QStringLiteral("Sync failed: ") + *error);
        } else {
            lastSyncedCount = count;
            lastSyncTime = clock();
            trainingLog(QStringLiteral("Synced %1 entries to backend").arg(count));
        }
        syncInFlight = false;
        done();
        // The syncs asked for meanwhile are decided now, one after another, on the fields just written.
        while (!syncInFlight && !waitingSyncs.empty()) {
            auto [force, next] = std::move(waitingSyncs.front());
            waitingSyncs.pop_front();
            requestSync(force, std::move(next));
        }
    }
};

TrainingDataLogger::TrainingDataLogger(QString logFilePath, TrainingUploader* uploader, Clock clock)
    : m_core(std::make_shared<Core>())
{
    m_core->path = std::move(logFilePath);
    m_core->uploader = uploader;
    m_core->clock = clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTimeUtc(); });
    m_core->self = m_core;
}

TrainingDataLogger::~TrainingDataLogger()
{
    m_core->queue.sync(); // queued appends reach the file
}

QString TrainingDataLogger::defaultLogFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quenda/training-data.jsonl");
}

QByteArray TrainingDataLogger::encodeLine(const TrainingEntry& entry)
{
    return QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact);
}

QList<TrainingEntry> TrainingDataLogger::decodeLog(const QByteArray& contents)
{
    QList<TrainingEntry> entries;
    for (const QByteArray& line : contents.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            continue;
        if (std::optional<TrainingEntry> entry = TrainingEntry::fromJson(document.object()))
            entries.append(std::move(*entry));
    }
    return entries;
}

void TrainingDataLogger::log(const TrainingEntry& entry)
{
    Core* core = m_core.get();
    core->queue.post([core, entry] { core->append(entry); });
}

void TrainingDataLogger::recordFeedback(const QString& enhancedText, FeedbackType feedback,
                                        std::optional<QString> correction, std::optional<QString> context)
{
    Core* core = m_core.get();
    core->queue.post(
        [core, enhancedText, feedback, correction = std::move(correction), context = std::move(context)] {
            core->rewriteWithFeedback(enhancedText, feedback, correction, context);
        });
}

QList<TrainingEntry> TrainingDataLogger::allEntries() const
{
    return readEntries(m_core->filePath());
}

int TrainingDataLogger::flaggedCount() const
{
    int count = 0;
    for (const TrainingEntry& entry : allEntries())
        count += entry.feedback.has_value() ? 1 : 0;
    return count;
}

QString TrainingDataLogger::exportForFineTuning() const
{
    QStringList lines;
    for (const TrainingEntry& entry : allEntries()) {
        if (entry.feedback == QStringLiteral("bad") && !entry.correction)
            continue; // flagged, with nothing better to learn from
        const QJsonObject pair{{QStringLiteral("input"), entry.raw},
                               {QStringLiteral("output"), entry.correction.value_or(entry.enhanced)}};
        lines << QString::fromUtf8(QJsonDocument(pair).toJson(QJsonDocument::Compact));
    }
    return lines.join(QLatin1Char('\n'));
}

QString TrainingDataLogger::logFileURL() const
{
    return m_core->filePath();
}

void TrainingDataLogger::syncIfNeeded(bool force, std::function<void()> done)
{
    Core* core = m_core.get();
    if (!done)
        done = [] {};
    core->queue.post(
        [core, force, done = std::move(done)]() mutable { core->requestSync(force, std::move(done)); });
}

void TrainingDataLogger::waitForPendingWork()
{
    m_core->queue.sync();
}

int TrainingDataLogger::lastSyncedCount() const
{
    int count = 0;
    Core* core = m_core.get();
    core->queue.sync([&] { count = core->lastSyncedCount; });
    return count;
}

QDateTime TrainingDataLogger::lastSyncTime() const
{
    QDateTime time;
    Core* core = m_core.get();
    core->queue.sync([&] { time = core->lastSyncTime; });
    return time;
}

} // namespace quenda
