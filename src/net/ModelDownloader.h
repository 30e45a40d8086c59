#pragma once

#include "net/HttpSession.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace quenda {

class Scheduler;

// Downloads one large file (a speech model) into place. The bytes go to "<destination>.part", readable by
// the user only, as they arrive; a broken-off transfer resumes where it stopped (an HTTP range request), or
// starts again from the beginning when the server does not resume. Only a file of the published size and
// SHA-1 that passes the caller's own check is renamed into place; a damaged one is deleted. A cancelled or
// failed download keeps its part for the next attempt. Handlers run on the main queue.
class ModelDownloader {
public:
    struct Target {
        QUrl url;
        QString destination;
        qint64 size = 0;
        QByteArray sha1; // lower-case hex
        // A last look at the finished file (e.g. the model's structure): why it is unusable, or nothing.
        std::function<std::optional<QString>(const QString& path)> validate;
    };
    struct Progress {
        qint64 received = 0; // bytes in the part file
        qint64 total = 0;
        qint64 resumedAt = -1; // where the current transfer took up an earlier part (-1: from the start)
    };
    using ProgressHandler = std::function<void(const Progress&)>;
    // Nothing on success, else what went wrong, for the user.
    using DoneHandler = std::function<void(std::optional<QString> error)>;

    // Transfers that break off are taken up again this many times in one download.
    static constexpr int maxAttempts = 4;

    explicit ModelDownloader(Scheduler& mainQueue, HttpSession::Timeouts timeouts = {30000, 0});
    ~ModelDownloader();
    ModelDownloader(const ModelDownloader&) = delete;
    ModelDownloader& operator=(const ModelDownloader&) = delete;

    void start(Target target, ProgressHandler progress, DoneHandler done);
    // The download stops; its part stays for a later resume. The done handler reports the cancellation.
    void cancel();

    static QString partPath(const QString& destination) { return destination + QStringLiteral(".part"); }

private:
    struct Job;

    Scheduler& m_mainQueue;
    HttpSession m_session;
    std::shared_ptr<Job> m_job;
};

} // namespace quenda
