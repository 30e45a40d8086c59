#include "net/KeychainStore.h"

#include "net/FileSecretStore.h"

#include <QStandardPaths>

namespace quenda {

KeychainStore::KeychainStore(SecretStore* system, const QString& fallbackFilePath)
    : m_system(system)
    , m_file(std::make_unique<FileSecretStore>(fallbackFilePath))
    , m_usingFallback(system == nullptr)
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
            return result.value;
        }
        m_usingFallback = result.status == SecretStore::Status::Unavailable;
    }
    // Not in the system store (or none answers): a value saved while the store was away is still found.
    const SecretStore::ReadResult fromFile = m_file->read(service, account);
    if (fromFile.status == SecretStore::Status::Ok)
        return fromFile.value;
    return std::nullopt;
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
            return;
        }
        m_usingFallback = true;
    }
    m_file->write(service, account, value);
}

void KeychainStore::remove(const QString& account)
{
    if (m_system)
        m_usingFallback = m_system->remove(service, account) == SecretStore::Status::Unavailable;
    m_file->remove(service, account);
}

} // namespace quenda
