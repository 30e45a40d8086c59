#include "base/UserDefaults.h"

#include <QDir>
#include <QMutexLocker>
#include <QStandardPaths>

namespace quenda {

UserDefaults::UserDefaults(const QString& filePath)
    : m_filePath(filePath)
    , m_settings(filePath, QSettings::IniFormat)
{}

QString UserDefaults::standardFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quenda/Quenda.conf");
}

bool UserDefaults::contains(const QString& key) const
{
    QMutexLocker locker(&m_mutex);
    return m_settings.contains(key);
}

QStringList UserDefaults::allKeys() const
{
    QMutexLocker locker(&m_mutex);
    return m_settings.allKeys();
}

QVariant UserDefaults::read(const QString& key) const
{
    QMutexLocker locker(&m_mutex);
    return m_settings.value(key);
}

void UserDefaults::write(const QString& key, const QVariant& value)
{
    QMutexLocker locker(&m_mutex);
    if (value.isValid())
        m_settings.setValue(key, value);
    else
        m_settings.remove(key);
    // Written through at once: a crash or a second process must not lose or miss the change.
    m_settings.sync();
}

std::optional<bool> UserDefaults::boolValue(const QString& key) const
{
    const QVariant value = read(key);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
        return value.toLongLong() != 0;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("yes") || text == QLatin1String("1"))
            return true;
        if (text == QLatin1String("false") || text == QLatin1String("no") || text == QLatin1String("0"))
            return false;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<qint64> UserDefaults::integerValue(const QString& key) const
{
    const QVariant value = read(key);
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
        return value.toLongLong();
    case QMetaType::QString: {
        bool ok = false;
        const qint64 number = value.toString().trimmed().toLongLong(&ok);
        return ok ? std::optional<qint64>(number) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> UserDefaults::doubleValue(const QString& key) const
{
    const QVariant value = read(key);
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Int ||
        value.typeId() == QMetaType::LongLong)
        return value.toDouble();
    if (value.typeId() == QMetaType::QString) {
        bool ok = false;
        const double number = value.toString().trimmed().toDouble(&ok);
        return ok ? std::optional<double>(number) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<QString> UserDefaults::stringValue(const QString& key) const
{
    const QVariant value = read(key);
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

std::optional<QByteArray> UserDefaults::dataValue(const QString& key) const
{
    const QVariant value = read(key);
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    if (value.typeId() == QMetaType::QString)
        return value.toString().toUtf8();
    return std::nullopt;
}

std::optional<QString> UserDefaults::displayValue(const QString& key) const
{
    const QVariant value = read(key);
    if (!value.isValid())
        return std::nullopt;
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void UserDefaults::setBool(const QString& key, bool value)
{
    write(key, value);
}

void UserDefaults::setInteger(const QString& key, qint64 value)
{
    write(key, value);
}

void UserDefaults::setDouble(const QString& key, double value)
{
    write(key, value);
}

void UserDefaults::setString(const QString& key, const QString& value)
{
    write(key, value);
}

void UserDefaults::setData(const QString& key, const QByteArray& value)
{
    write(key, value);
}

void UserDefaults::remove(const QString& key)
{
    write(key, QVariant());
}

} // namespace quenda
