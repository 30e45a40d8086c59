#pragma once

#include "platform/SecretStore.h"

#include <QHash>
#include <QThread>

namespace quenda::fakes {

// A system secret store that answers, or does not, as the test says.
class ScriptedSecretStore final : public SecretStore {
public:
    ReadResult read(const QString& service, const QString& account) override
    {
        if (!answer())
            return {Status::Unavailable, {}};
        const auto it = items.constFind(service + QLatin1Char('/') + account);
        return it == items.constEnd() ? ReadResult{Status::NotFound, {}} : ReadResult{Status::Ok, *it};
    }
    Status write(const QString& service, const QString& account, const QString& value) override
    {
        writes.fetchAndAddRelaxed(1);
        while (holdWrites.loadRelaxed()) // a keyring that takes its time
            QThread::msleep(1);
        if (!answer())
            return Status::Unavailable;
        items.insert(service + QLatin1Char('/') + account, value);
        return Status::Ok;
    }
    Status remove(const QString& service, const QString& account) override
    {
        if (!answer())
            return Status::Unavailable;
        return items.remove(service + QLatin1Char('/') + account) ? Status::Ok : Status::NotFound;
    }
    bool answer() { return ++calls, available.loadRelaxed(); }
    QAtomicInteger<bool> available = true; // read on the store's own thread
    QAtomicInteger<bool> holdWrites = false;
    QAtomicInt writes = 0;
    QHash<QString, QString> items;
    int calls = 0;
};

} // namespace quenda::fakes
