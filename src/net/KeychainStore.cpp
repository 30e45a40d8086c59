#include "net/KeychainStore.h"

#include "base/Scheduler.h"
#include "net/FileSecretStore.h"

#include <QStandardPaths>

namespace quenda {

KeychainStore::KeychainStore(SecretStore* system, const QString& fallbackFilePath)
    : m_system(system)
    , m_file(std::make_unique<FileSecretStore>(fallbackFilePath))
    , m_usingFallback(system == nullptr)
    , m_reader(system ? std::make_unique<WorkerThread>(QStringLiteral("com.quenda.keychain-reads")) : nullptr)
{}

KeychainStore::~KeychainStore() = default;

QString KeychainStore::defaultFallbackFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quenda/secrets.json");
}

std::optional<QString> KeychainStore::read(const QString& account)
{
    if (m_system) {
        const SecretStore::ReadResult result = m_system->read(service, account);
        if (result.status == SecretStore::Status::Ok) {
            m_usingFallback = false;
            remember(account, result.value);
            return result.value;
        }
        m_usingFallback = result.status == SecretStore::Status::Unavailable;
    }
    // Not in the system store (or none answers): a value saved while the store was away is still found.
    const SecretStore::ReadResult fromFile = m_file->read(service, account);
    const std::optional<QString> value =
        fromFile.status == SecretStore::Status::Ok ? std::optional<QString>(fromFile.value) : std::nullopt;
    remember(account, value);
    return value;
}

void KeychainStore::readInBackground(const QString& account, Scheduler& mainQueue, ReadDone done)
{
    // The file alone answers at once; only a system store can hang.
    if (!m_system) {
        mainQueue.post([done = std::move(done), value = read(account)] { done(value); });
        return;
    }
    m_reader->post([this, account, &mainQueue, done = std::move(done)] {
        mainQueue.post([done, value = read(account)] { done(value); });
    });
}

std::optional<QString> KeychainStore::readOnce(const QString& account)
{
    {
        QMutexLocker lock(&m_knownMutex);
        const auto seen = m_known.constFind(account);
        if (seen != m_known.constEnd())
            return *seen;
    }
    return read(account);
}

void KeychainStore::remember(const QString& account, const std::optional<QString>& value)
{
    QMutexLocker lock(&m_knownMutex);
    m_known.insert(account, value);
}

void KeychainStore::save(const QString& account, const QString& value)
{
    if (m_system) {
        // Delete, then add, as the Keychain operation does; neither status is examined beyond availability
        // (and a store that did not answer the delete is not asked again: each call may take its timeout).
        if (m_system->remove(service, account) != SecretStore::Status::Unavailable &&
            m_system->write(service, account, value) == SecretStore::Status::Ok) {
            m_usingFallback = false;
            m_file->remove(service, account); // no stale copy outside the secret store
            remember(account, value);
            return;
        }
        m_usingFallback = true;
    }
    m_file->write(service, account, value);
    remember(account, value);
}

void KeychainStore::remove(const QString& account)
{
    if (m_system)
        m_usingFallback = m_system->remove(service, account) == SecretStore::Status::Unavailable;
    m_file->remove(service, account);
    remember(account, std::nullopt);
}

} // namespace quenda
