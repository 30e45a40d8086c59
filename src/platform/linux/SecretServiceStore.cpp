#include "platform/linux/SecretServiceStore.h"

#include "base/Log.h"
#include "base/WorkerThread.h"

#include <QCoreApplication>
#include <QThread>

#include <qt6keychain/keychain.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace quenda::linux_platform {

struct SecretServiceStore::Outcome {
    bool finished = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString text;
};

namespace {
// Shared between the waiting caller and the job, which may finish after the caller gave up.
struct Pending {
    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    bool abandoned = false; // the caller gave up waiting
    QKeychain::Error error = QKeychain::OtherError;
    QString text;
    std::shared_ptr<std::atomic_int> stalledJobs;
};

// One thread for every store, for the life of the process: libsecret keeps its connection to the service on
// the thread that first used it, and a second thread after that one has ended gets no answers.
WorkerThread& secretsThread()
{
    static WorkerThread* const thread = [] {
        auto* worker = new WorkerThread(QStringLiteral("quenda-secrets"));
        qAddPostRoutine([] { secretsThread().stop(); });
        return worker;
    }();
    return *thread;
}

SecretStore::Status statusOf(QKeychain::Error error)
{
    switch (error) {
    case QKeychain::NoError:
        return SecretStore::Status::Ok;
    case QKeychain::EntryNotFound:
        return SecretStore::Status::NotFound;
    default:
        return SecretStore::Status::Unavailable; // no service, locked, refused, or any other failure
    }
}
} // namespace

SecretServiceStore::SecretServiceStore(int timeoutMsec)
    : m_timeoutMsec(timeoutMsec)
    , m_context(secretsThread().context())
    , m_stalledJobs(std::make_shared<std::atomic_int>(0))
{}

SecretServiceStore::~SecretServiceStore() = default;

SecretServiceStore::Outcome SecretServiceStore::run(const std::function<QKeychain::Job*()>& makeJob)
{
    // While a job that timed out is still waiting (a prompt nobody answers), the service counts as absent at
    // once, rather than every call waiting its own timeout; the late job's end brings it back.
    if (m_stalledJobs->load() > 0)
        return Outcome{};
    auto pending = std::make_shared<Pending>();
    pending->stalledJobs = m_stalledJobs;
    secretsThread().post([pending, makeJob, context = m_context] {
        QKeychain::Job* job = makeJob();
        job->setParent(context);
        job->setAutoDelete(true);
        QObject::connect(job, &QKeychain::Job::finished, context, [pending](QKeychain::Job* done) {
            std::lock_guard<std::mutex> lock(pending->mutex);
            if (pending->abandoned)
                --*pending->stalledJobs;
            pending->finished = true;
            pending->error = done->error();
            if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done))
                pending->text = read->textData();
            pending->changed.notify_all();
        });
        job->start();
    });

    std::unique_lock<std::mutex> lock(pending->mutex);
    pending->changed.wait_for(lock, std::chrono::milliseconds(m_timeoutMsec),
                              [&] { return pending->finished; });
    if (!pending->finished) {
        pending->abandoned = true;
        // Said once: until the late job ends, later calls count the keyring as absent without waiting.
        if (m_stalledJobs->fetch_add(1) == 0)
            log("Keychain",
                QStringLiteral("The keyring did not answer within %1 s; until it does, secrets are "
                               "read from and saved to the private secrets file.")
                    .arg(m_timeoutMsec / 1000.0));
    }
    Outcome outcome;
    outcome.finished = pending->finished;
    outcome.error = pending->finished ? pending->error : QKeychain::OtherError;
    outcome.text = pending->text;
    return outcome;
}

SecretStore::ReadResult SecretServiceStore::read(const QString& service, const QString& account)
{
    const Outcome outcome = run([service, account] {
        auto* job = new QKeychain::ReadPasswordJob(service);
        job->setKey(account);
        return job;
    });
    return ReadResult{statusOf(outcome.error), outcome.text};
}

SecretStore::Status SecretServiceStore::write(const QString& service, const QString& account,
                                              const QString& value)
{
    return statusOf(run([service, account, value] {
                        auto* job = new QKeychain::WritePasswordJob(service);
                        job->setKey(account);
                        job->setTextData(value);
                        return job;
                    }).error);
}

SecretStore::Status SecretServiceStore::remove(const QString& service, const QString& account)
{
    const Status status = statusOf(run([service, account] {
                                       auto* job = new QKeychain::DeletePasswordJob(service);
                                       job->setKey(account);
                                       return job;
                                   }).error);
    return status;
}

} // namespace quenda::linux_platform
