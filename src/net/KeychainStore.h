#pragma once

#include "platform/SecretStore.h"

#include <QString>

#include <atomic>
#include <memory>
#include <optional>

namespace quenda {

class FileSecretStore;

// Generic-password items of the app: service "com.quenda.Quenda", one account per secret. Kept in the
// system's secret store; where none answers, in a file of the user's config folder that only the user can
// read, and isUsingFallback() says so (the settings show it). Never reports failure: a read that finds
// nothing gives nothing, a write or delete that fails is dropped. Safe to use from several threads.
class KeychainStore {
public:
    static inline const QString service = QStringLiteral("com.quenda.Quenda");
    static inline const QString groqAccount = QStringLiteral("groq_api_key");
    static inline const QString authTokenAccount = QStringLiteral("quenda_auth_token");

    // `system` may be null (no secret service on this platform build): then the file is the store.
    KeychainStore(SecretStore* system, const QString& fallbackFilePath);
    ~KeychainStore();

    // ~/.config/Quenda/secrets.json (honours XDG_CONFIG_HOME).
    static QString defaultFallbackFilePath();

    std::optional<QString> read(const QString& account);
    void save(const QString& account, const QString& value);
    void remove(const QString& account);

    // The last call found no secret service answering, so secrets live in the fallback file.
    bool isUsingFallback() const { return m_usingFallback.load(); }

private:
    SecretStore* m_system;
    std::unique_ptr<FileSecretStore> m_file;
    std::atomic_bool m_usingFallback;
};

} // namespace quenda
