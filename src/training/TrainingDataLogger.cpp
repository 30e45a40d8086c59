#include "training/TrainingDataLogger.h"

#include "base/Log.h"
#include "base/PrivateFile.h"
#include "base/Scheduler.h"
#include "base/WorkerThread.h"

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

    // The log's count of pairs and its size as of the last append or rewrite here, so that an append
    // need not read the whole log again to tell the total; another writer shows as a different size.
    int knownCount = -1;
    qint64 knownSize = -1;
    bool restricted = false;

    std::weak_ptr<Core> self;
    WorkerThread queue{QStringLiteral("com.quenda.training-data")};

    QString filePath() const
    {
        // A failure shows as a failed write, which is ignored.
        PrivateFile::makeFolder(QFileInfo(path).absolutePath());
        return path;
    }

    // Logs written before the log became private are made private the first time they are touched.
    void restrictOnce(const QString& file)
    {
        if (!restricted && QFileInfo::exists(file))
            restricted = PrivateFile::restrict(file);
    }

    void append(const TrainingEntry& entry)
    {
        const QString file = filePath();
        restrictOnce(file);
        const qint64 sizeBefore = QFileInfo(file).size();
        QByteArray line = encodeLine(entry) + '\n';
        // A line cut short by a crash must not swallow this one: it starts on a line of its own.
        if (sizeBefore > 0 && !endsWithNewline(file, sizeBefore))
            line.prepend('\n');
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                      QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return; // the line is dropped
        // One write of the whole line: a crash can only cut this line short, never an earlier one.
        const bool written = out.write(line) == line.size();
        out.close();
        if (!written) {
            knownCount = -1;
            return;
        }
        if (knownCount < 0 || sizeBefore != knownSize)
            knownCount = int(readEntries(file).size());
        else
            ++knownCount;
        knownSize = sizeBefore + line.size();
        trainingLog(QStringLiteral("Logged pair (%1 total)").arg(knownCount));
    }

    static bool endsWithNewline(const QString& file, qint64 size)
    {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly) || !in.seek(size - 1))
            return true;
        char last = '\n';
        return !in.getChar(&last) || last == '\n';
    }

    void rewriteWithFeedback(const QString& enhancedText, FeedbackType feedback,
                             const std::optional<QString>& correction, const std::optional<QString>& context)
    {
        const QString file = filePath();
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly))
            return;
        QList<QByteArray> lines = in.readAll().split('\n');
        in.close();
        for (qsizetype i = lines.size() - 1; i >= 0; --i) {
            std::optional<TrainingEntry> entry = decodeLine(lines[i]);
            if (!entry || entry->enhanced != enhancedText)
                continue;
            entry->feedback = feedbackRawValue(feedback);
            entry->correction = correction;
            entry->context = context;
            lines[i] = encodeLine(*entry);
            // Lines that do not decode stay as they were: they are the user's, and may be read by a later
            // version. The new log replaces the old in one rename, so a crash leaves one or the other.
            QByteArray contents = lines.join('\n');
            if (!contents.endsWith('\n'))
                contents += '\n';
            if (PrivateFile::write(file, contents)) {
                restricted = true;
                knownSize = contents.size();
            }
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

std::optional<TrainingEntry> TrainingDataLogger::decodeLine(const QByteArray& line)
{
    if (line.isEmpty())
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return TrainingEntry::fromJson(document.object());
}

QList<TrainingEntry> TrainingDataLogger::decodeLog(const QByteArray& contents)
{
    QList<TrainingEntry> entries;
    for (const QByteArray& line : contents.split('\n')) {
        if (std::optional<TrainingEntry> entry = decodeLine(line))
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
