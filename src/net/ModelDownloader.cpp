#include "net/ModelDownloader.h"

#include "base/Scheduler.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThreadPool>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace quenda {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("ModelDownloader", text);
}

constexpr QFileDevice::Permissions userOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr int progressIntervalMsec = 100;

} // namespace

// One download. The preparation runs on a pool thread, then everything runs on the network thread, one
// step after the other; the handlers are posted to the main queue.
struct ModelDownloader::Job : std::enable_shared_from_this<ModelDownloader::Job> {
    Target target;
    ProgressHandler onProgress;
    DoneHandler onDone;
    Scheduler* mainQueue = nullptr;
    // The downloader's session and the request in flight; the downloader lets go of both when it goes.
    std::mutex requestMutex;
    HttpSession* session = nullptr;
    RequestHandle request;

    QFile part;
    QCryptographicHash hash{QCryptographicHash::Sha1};
    qint64 received = 0;
    qint64 resumedAt = -1;
    int attempts = 0;
    bool headSeen = false; // in the current transfer
    bool restart = false;
    std::optional<QString> failure; // a reason to stop for good
    QElapsedTimer sinceProgress;
    std::atomic_bool cancelled{false};
    std::atomic_bool abandoned{false}; // the downloader is gone: its handlers are not called

    void prepare();
    void begin();
    std::optional<ServiceError> head(const HttpHead& head);
    bool data(QByteArrayView bytes);
    void ended(std::optional<ServiceError> error);
    void verify();
    void truncate();
    void reportProgress(bool force);
    void finish(std::optional<QString> error);
};

void ModelDownloader::Job::prepare()
{
    const QString path = partPath(target.destination);
    const QString folder = QFileInfo(target.destination).absolutePath();
    if (!QDir().mkpath(folder)) {
        finish(tr("cannot create the folder %1").arg(folder));
        return;
    }
    QFile::setPermissions(folder, userOnly | QFileDevice::ExeOwner);
    part.setFileName(path);
    if (!part.open(QIODevice::ReadWrite)) {
        finish(tr("cannot write %1: %2").arg(path, part.errorString()));
        return;
    }
    part.setPermissions(userOnly);
    if (part.size() > target.size)
        part.resize(0); // not a beginning of this file
    // What an earlier attempt left is taken up: its bytes count towards the checksum.
    while (!part.atEnd() && !cancelled) {
        const QByteArray chunk = part.read(1 << 20);
        if (chunk.isEmpty())
            break;
        hash.addData(chunk);
    }
    received = part.pos();
    if (received != part.size()) {
        finish(tr("cannot read %1: %2").arg(path, part.errorString()));
        return;
    }
    begin();
}

void ModelDownloader::Job::begin()
{
    if (cancelled) {
        ended(ServiceError::cancelled());
        return;
    }
    ++attempts;
    restart = false;
    headSeen = false;
    HttpRequest request_;
    request_.url = target.url;
    if (received > 0)
        request_.headers.append({"Range", "bytes=" + QByteArray::number(received) + '-'});
    std::shared_ptr<Job> self = shared_from_this();
    std::lock_guard lock(requestMutex);
    if (!session) {
        finish(tr("the download was cancelled; run it again to resume"));
        return;
    }
    request = session->download(
        std::move(request_), {[self](const HttpHead& h) { return self->head(h); },
                              [self](QByteArrayView bytes) { return self->data(bytes); },
                              [self](std::optional<ServiceError> error) { self->ended(std::move(error)); }});
}

std::optional<ServiceError> ModelDownloader::Job::head(const HttpHead& reply)
{
    headSeen = true;
    const int status = reply.statusCode;
    if (status == 206) {
        // "bytes START-END/TOTAL": only a continuation of this very part will do.
        static const QRegularExpression range(QStringLiteral("^bytes (\\d+)-(\\d+)/(\\d+)$"));
        const auto match = range.match(QString::fromLatin1(reply.header("Content-Range").trimmed()));
        if (!match.hasMatch() || match.captured(1).toLongLong() != received ||
            match.captured(3).toLongLong() != target.size) {
            restart = true;
            return ServiceError::cancelled();
        }
        resumedAt = received;
        return std::nullopt;
    }
    if (status == 200) {
        const QByteArray length = reply.header("Content-Length");
        if (!length.isEmpty() && length.trimmed().toLongLong() != target.size) {
            failure = tr("the server offers %1 bytes, but the published size is %2")
                          .arg(QString::fromLatin1(length.trimmed()))
                          .arg(target.size);
            return ServiceError::cancelled();
        }
        if (received > 0)
            truncate(); // the server starts from the beginning: so does the file
        resumedAt = -1;
        return std::nullopt;
    }
    if (status == 416) { // the range lies beyond what the server has: start afresh
        restart = true;
        return ServiceError::cancelled();
    }
    failure = tr("the server answered HTTP %1 for %2").arg(status).arg(target.url.toString());
    return ServiceError::cancelled();
}

bool ModelDownloader::Job::data(QByteArrayView bytes)
{
    if (cancelled)
        return false;
    if (received + bytes.size() > target.size) {
        failure = tr("the server sent more than the published size of %1 bytes").arg(target.size);
        part.remove();
        return false;
    }
    if (part.write(bytes.data(), bytes.size()) != bytes.size()) {
        failure = tr("cannot write %1: %2").arg(part.fileName(), part.errorString());
        return false;
    }
    hash.addData(bytes);
    received += bytes.size();
    reportProgress(false);
    return true;
}

void ModelDownloader::Job::ended(std::optional<ServiceError> error)
{
    if (failure) {
        finish(failure);
        return;
    }
    if (cancelled) {
        part.flush();
        finish(tr("the download was cancelled; run it again to resume"));
        return;
    }
    if (restart) {
        truncate();
        if (attempts < maxAttempts)
            begin();
        else
            finish(tr("the server does not deliver the file consistently"));
        return;
    }
    if (error && !headSeen) {
        finish(tr("cannot reach %1: %2").arg(target.url.host(), error->description()));
        return;
    }
    if (error || received < target.size) {
        // The transfer broke off: take it up again where it stopped.
        part.flush();
        if (attempts < maxAttempts) {
            begin();
            return;
        }
        finish(tr("the transfer broke off %1 times (%2); run it again to resume")
                   .arg(attempts)
                   .arg(error ? error->description() : tr("the body ended early")));
        return;
    }
    verify();
}

void ModelDownloader::Job::verify()
{
    reportProgress(true);
    part.close();
    const QByteArray sha1 = hash.result().toHex();
    if (sha1 != target.sha1.toLower()) {
        part.remove();
        finish(
            tr("the download does not match the published checksum (SHA-1 %1, expected %2); it was deleted")
                .arg(QString::fromLatin1(sha1), QString::fromLatin1(target.sha1)));
        return;
    }
    if (target.validate) {
        if (const std::optional<QString> why = target.validate(part.fileName())) {
            part.remove();
            finish(tr("the downloaded file is unusable (%1); it was deleted").arg(*why));
            return;
        }
    }
    // Renaming over an older copy replaces it in one step: a reader sees the old file or the new one.
    if (std::rename(QFile::encodeName(part.fileName()).constData(),
                    QFile::encodeName(target.destination).constData()) != 0) {
        finish(tr("cannot move the download to %1").arg(target.destination));
        return;
    }
    finish(std::nullopt);
}

void ModelDownloader::Job::truncate()
{
    part.resize(0);
    part.seek(0);
    hash.reset();
    received = 0;
}

void ModelDownloader::Job::reportProgress(bool force)
{
    if (!force && sinceProgress.isValid() && sinceProgress.elapsed() < progressIntervalMsec &&
        received < target.size)
        return;
    sinceProgress.start();
    const Progress progress{received, target.size, resumedAt};
    mainQueue->post([self = shared_from_this(), progress] {
        if (!self->abandoned && self->onProgress)
            self->onProgress(progress);
    });
}

void ModelDownloader::Job::finish(std::optional<QString> error)
{
    if (part.isOpen())
        part.close();
    if (error && QFileInfo(part.fileName()).size() == 0)
        QFile::remove(part.fileName()); // nothing to resume
    mainQueue->post([self = shared_from_this(), error] {
        if (!self->abandoned && self->onDone)
            self->onDone(error);
    });
}

ModelDownloader::ModelDownloader(Scheduler& mainQueue, HttpSession::Timeouts timeouts)
    : m_mainQueue(mainQueue)
    , m_session(timeouts)
{}

ModelDownloader::~ModelDownloader()
{
    if (m_job) {
        m_job->abandoned = true;
        cancel();
        std::lock_guard lock(m_job->requestMutex);
        m_job->session = nullptr; // a preparation still under way starts nothing
    }
}

void ModelDownloader::start(Target target, ProgressHandler progress, DoneHandler done)
{
    if (m_job) {
        m_job->abandoned = true;
        cancel();
    }
    auto job = std::make_shared<Job>();
    job->target = std::move(target);
    job->onProgress = std::move(progress);
    job->onDone = std::move(done);
    job->mainQueue = &m_mainQueue;
    job->session = &m_session;
    m_job = job;
    // Reading back an earlier part can take a while: not on the main thread, nor the network thread.
    QThreadPool::globalInstance()->start([job] { job->prepare(); });
}

void ModelDownloader::cancel()
{
    if (!m_job)
        return;
    m_job->cancelled = true;
    std::lock_guard lock(m_job->requestMutex);
    m_job->request.cancel();
}

} // namespace quenda
