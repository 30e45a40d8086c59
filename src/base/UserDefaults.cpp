#include "base/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QTimer>

namespace quenda {

namespace {
// A value as comparable text: a value written here (an int) and the same one read back from the file
// (the text "49") must compare equal, or every change of the file would seem to change every key.
QString canonical(const QVariant& value)
{
    if (value.typeId() == QMetaType::QByteArray)
        return QStringLiteral("b:") + QString::fromLatin1(value.toByteArray().toBase64());
    if (value.typeId() == QMetaType::QStringList)
        return QStringLiteral("l:") + value.toStringList().join(QLatin1Char('\n'));
    return QStringLiteral("v:") + value.toString();
}

QHash<QString, QString> snapshot(const QSettings& settings)
{
    QHash<QString, QString> values;
    for (const QString& key : settings.allKeys())
        values.insert(key, canonical(settings.value(key)));
    return values;
}
} // namespace

UserDefaults::UserDefaults(const QString& filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath)
    , m_settings(filePath, QSettings::IniFormat)
{
    // The folder only the user may enter: it holds the settings and the secrets' fallback file.
    const QFileInfo info(filePath);
    if (!info.dir().exists() && QDir().mkpath(info.absolutePath()))
        QFile::setPermissions(info.absolutePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_known = snapshot(m_settings);
    watch();
}

UserDefaults::~UserDefaults() = default;

void UserDefaults::watch()
{
    m_watcher = new QFileSystemWatcher(this);
    // The folder too: a file replaced by a rename (as QSettings and editors save) is a new file to watch.
    m_watcher->addPath(QFileInfo(m_filePath).absolutePath());
    if (QFile::exists(m_filePath))
        m_watcher->addPath(m_filePath);
    auto changedOnDisk = [this] {
        if (!m_watcher->files().contains(m_filePath) && QFile::exists(m_filePath))
            m_watcher->addPath(m_filePath);
        // One reload for a burst of notices (a save is a write, a rename and a folder change).
        if (m_reloadPending)
            return;
        m_reloadPending = true;
        QTimer::singleShot(0, this, [this] {
            m_reloadPending = false;
            reload();
        });
    };
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, changedOnDisk);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, changedOnDisk);
}

void UserDefaults::reload()
{
    QStringList changedKeys;
    {
        QMutexLocker locker(&m_mutex);
        m_settings.sync();
        const QHash<QString, QString> now = snapshot(m_settings);
        for (auto it = now.cbegin(); it != now.cend(); ++it) {
            if (m_known.value(it.key()) != it.value())
                changedKeys << it.key();
        }
        for (auto it = m_known.cbegin(); it != m_known.cend(); ++it) {
            if (!now.contains(it.key()))
                changedKeys << it.key();
        }
        m_known = now;
    }
    for (const QString& key : std::as_const(changedKeys))
        Q_EMIT changed(key);
}

QMetaObject::Connection UserDefaults::onChange(const QString& key, const QObject* context,
                                               std::function<void()> handler)
{
    return connect(this, &UserDefaults::changed, context,
                   [key, handler = std::move(handler)](const QString& which) {
                       if (which == key)
                           handler();
                   });
}

void UserDefaults::restrictPermissions() const
{
    QFile::setPermissions(m_filePath, QFile::ReadOwner | QFile::WriteOwner);
}

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
    {
        QMutexLocker locker(&m_mutex);
        if (value.isValid())
            m_settings.setValue(key, value);
        else
            m_settings.remove(key);
        // Written through at once: a crash or a second process must not lose or miss the change.
        m_settings.sync();
        restrictPermissions();
        const QVariant stored = m_settings.value(key);
        const std::optional<QString> before =
            m_known.contains(key) ? std::optional<QString>(m_known.value(key)) : std::nullopt;
        const std::optional<QString> after =
            stored.isValid() ? std::optional<QString>(canonical(stored)) : std::nullopt;
        if (before == after)
            return;
        if (after)
            m_known.insert(key, *after);
        else
            m_known.remove(key);
    }
    Q_EMIT changed(key);
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
