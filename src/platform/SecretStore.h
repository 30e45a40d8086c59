#pragma once

#include <QString>

namespace quenda {

// The operating system's store of secrets (the Keychain, the Secret Service, the Windows credential store):
// small text values kept per service and account. Calls block the calling thread, each for a bounded time:
// a store that does not answer in time counts as unavailable.
class SecretStore {
public:
    enum class Status {
        Ok,
        NotFound,    // the store answered: there is no such item
        Unavailable, // no store answered (none runs, it is locked, or it timed out)
    };
    struct ReadResult {
        Status status = Status::Unavailable;
        QString value;
    };

    virtual ~SecretStore() = default;

    virtual ReadResult read(const QString& service, const QString& account) = 0;
    // Replaces any existing value.
    virtual Status write(const QString& service, const QString& account, const QString& value) = 0;
    // Removing an item that does not exist is Ok or NotFound, never an error.
    virtual Status remove(const QString& service, const QString& account) = 0;
};

} // namespace quenda
