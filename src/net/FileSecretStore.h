#pragma once

#include "platform/SecretStore.h"

#include <QMutex>

namespace quenda {

// Secrets in a JSON file that only the user may read (mode 0600), for systems where no secret service
// answers. {"service": {"account": "value"}}; a file that does not decode holds nothing, and the first
// write keeps a copy of it beside it before starting a new one. Safe to use from several threads.
class FileSecretStore final : public SecretStore {
public:
    explicit FileSecretStore(QString filePath);

    const QString& filePath() const { return m_filePath; }

    ReadResult read(const QString& service, const QString& account) override;
    Status write(const QString& service, const QString& account, const QString& value) override;
    Status remove(const QString& service, const QString& account) override;

private:
    QMutex m_mutex;
    QString m_filePath;
};

} // namespace quenda
