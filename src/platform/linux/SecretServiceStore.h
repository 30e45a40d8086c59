#pragma once

#include "platform/SecretStore.h"

#include <atomic>
#include <functional>
#include <memory>

class QObject;

namespace QKeychain {
class Job;
}

namespace quenda::linux_platform {

// Secrets in the Secret Service (GNOME Keyring, KWallet) through QtKeychain. The jobs run on one thread
// shared by all stores, and each call waits for its job at most `timeoutMsec`: a keyring that is locked may
// put up a prompt nobody answers, and a job that does not finish in time counts as no store answering.
class SecretServiceStore final : public SecretStore {
public:
    explicit SecretServiceStore(int timeoutMsec = 3000);
    ~SecretServiceStore() override;

    ReadResult read(const QString& service, const QString& account) override;
    Status write(const QString& service, const QString& account, const QString& value) override;
    Status remove(const QString& service, const QString& account) override;

    int timeoutMsec() const { return m_timeoutMsec; }

private:
    struct Outcome;
    Outcome run(const std::function<QKeychain::Job*()>& makeJob);

    int m_timeoutMsec;
    QObject* m_context; // on the process-wide secrets thread
    std::shared_ptr<std::atomic_int> m_stalledJobs;
};

} // namespace quenda::linux_platform
