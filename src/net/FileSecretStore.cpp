#include "net/FileSecretStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QSaveFile>

namespace quenda {

namespace {
QJsonObject load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    return document.isObject() ? document.object() : QJsonObject();
}

bool store(const QString& path, const QJsonObject& object)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The temporary file gets the mode before any secret is written into it; the rename keeps it.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    file.write(QJsonDocument(object).toJson(QJsonDocument::Compact));
    return file.commit();
}
} // namespace

FileSecretStore::FileSecretStore(QString filePath)
    : m_filePath(std::move(filePath))
{}

SecretStore::ReadResult FileSecretStore::read(const QString& service, const QString& account)
{
    QMutexLocker locker(&m_mutex);
    const QJsonValue value = load(m_filePath).value(service).toObject().value(account);
    if (!value.isString())
        return {Status::NotFound, {}};
    return {Status::Ok, value.toString()};
}

SecretStore::Status FileSecretStore::write(const QString& service, const QString& account,
                                           const QString& value)
{
    QMutexLocker locker(&m_mutex);
    QJsonObject all = load(m_filePath);
    QJsonObject accounts = all.value(service).toObject();
    accounts.insert(account, value);
    all.insert(service, accounts);
    return store(m_filePath, all) ? Status::Ok : Status::Unavailable;
}

SecretStore::Status FileSecretStore::remove(const QString& service, const QString& account)
{
    QMutexLocker locker(&m_mutex);
    QJsonObject all = load(m_filePath);
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
