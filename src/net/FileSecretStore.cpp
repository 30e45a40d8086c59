#include "net/FileSecretStore.h"

#include "base/Log.h"
#include "base/PrivateFile.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

#include <optional>

namespace quenda {

namespace {
// The stored secrets; nothing when the file exists but does not hold them readably.
std::optional<QJsonObject> load(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return QJsonObject();
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray contents = file.readAll();
    if (contents.trimmed().isEmpty())
        return QJsonObject();
    const QJsonDocument document = QJsonDocument::fromJson(contents);
    return document.isObject() ? std::optional(document.object()) : std::nullopt;
}

// What a write starts from. A file that cannot be read is copied aside first (it may hold secrets a later
// version can read), never silently replaced; without a copy, nothing is written.
std::optional<QJsonObject> loadForWriting(const QString& path)
{
    if (std::optional<QJsonObject> all = load(path))
        return all;
    QFile file(path);
    const QByteArray stored = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const QString copy = path + QStringLiteral(".unreadable-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    if (!PrivateFile::write(copy, stored)) {
        log("Keychain", QStringLiteral("The secrets file %1 cannot be read, and no copy of it could be kept; "
                                       "it is left as it is")
                            .arg(path));
        return std::nullopt;
    }
    log("Keychain", QStringLiteral("The secrets file %1 could not be read; kept a copy at %2 before writing "
                                   "a new one")
                        .arg(path, copy));
    return QJsonObject();
}

bool store(const QString& path, const QJsonObject& object)
{
    return PrivateFile::write(path, QJsonDocument(object).toJson(QJsonDocument::Compact));
}
} // namespace

FileSecretStore::FileSecretStore(QString filePath)
    : m_filePath(std::move(filePath))
{}

SecretStore::ReadResult FileSecretStore::read(const QString& service, const QString& account)
{
    QMutexLocker locker(&m_mutex);
    const QJsonValue value =
        load(m_filePath).value_or(QJsonObject()).value(service).toObject().value(account);
    if (!value.isString())
        return {Status::NotFound, {}};
    return {Status::Ok, value.toString()};
}

SecretStore::Status FileSecretStore::write(const QString& service, const QString& account,
                                           const QString& value)
{
    QMutexLocker locker(&m_mutex);
    std::optional<QJsonObject> stored = loadForWriting(m_filePath);
    if (!stored)
        return Status::Unavailable;
    QJsonObject& all = *stored;
    QJsonObject accounts = all.value(service).toObject();
    accounts.insert(account, value);
    all.insert(service, accounts);
    return store(m_filePath, all) ? Status::Ok : Status::Unavailable;
}

SecretStore::Status FileSecretStore::remove(const QString& service, const QString& account)
{
    QMutexLocker locker(&m_mutex);
    std::optional<QJsonObject> stored = load(m_filePath);
    if (!stored)
        return Status::NotFound; // nothing readable to remove: the file is left alone
    QJsonObject& all = *stored;
    QJsonObject accounts = all.value(service).toObject();
    if (!accounts.contains(account))
        return Status::NotFound;
    accounts.remove(account);
    if (accounts.isEmpty())
        all.remove(service);
    else
        all.insert(service, accounts);
    return store(m_filePath, all) ? Status::Ok : Status::Unavailable;
}

} // namespace quenda
