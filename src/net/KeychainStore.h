#pragma once

#include "platform/SecretStore.h"

#include "base/WorkerThread.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace quenda {

class FileSecretStore;
class Scheduler;

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

    // These block the calling thread for as long as the system store takes (its timeout at most): the main
    // thread uses readInBackground and readOnce instead.
    std::optional<QString> read(const QString& account);
    void save(const QString& account, const QString& value);
    void remove(const QString& account);

    // Reads on a thread of the store's own and tells `done` the value on the main queue, so a keyring that
    // hangs holds up nobody. Reads are answered in the order they were asked.
    using ReadDone = std::function<void(std::optional<QString> value)>;
    void readInBackground(const QString& account, Scheduler& mainQueue, ReadDone done);
    // The value the latest read, save or removal of this process saw, without asking the store again; read
    // (and so blocking) only when this process has not seen the account yet.
    std::optional<QString> readOnce(const QString& account);

    // The last call found no secret service answering, so secrets live in the fallback file.
    bool isUsingFallback() const { return m_usingFallback.load(); }
    // There is a system store, and it did not answer the last call: worth asking again later.
    bool isSystemStoreAway() const { return m_system && m_usingFallback.load(); }

private:
    void remember(const QString& account, const std::optional<QString>& value);

    SecretStore* m_system;
    std::unique_ptr<FileSecretStore> m_file;
    std::atomic_bool m_usingFallback;
    mutable QMutex m_knownMutex;
    QHash<QString, std::optional<QString>> m_known;
    // Last, so it stops (finishing the reads it holds) before the stores it reads go.
    std::unique_ptr<WorkerThread> m_reader;
};

} // namespace quenda
