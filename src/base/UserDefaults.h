#pragma once

#include <QByteArray>
#include <QMutex>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace quenda {

// The user-defaults domain: typed values under the system's key names, kept in one settings file.
// Values that cannot be read as the asked type read as absent, so corrupt entries behave like missing ones.
// Safe to use from several threads.
class UserDefaults {
public:
    explicit UserDefaults(const QString& filePath);

    // The user's own store, ~/.config/Quenda/Quenda.conf (honours XDG_CONFIG_HOME).
    static QString standardFilePath();

    QString filePath() const { return m_filePath; }

    bool contains(const QString& key) const;
    QStringList allKeys() const;

    std::optional<bool> boolValue(const QString& key) const;
    std::optional<qint64> integerValue(const QString& key) const;
    std::optional<double> doubleValue(const QString& key) const;
    std::optional<QString> stringValue(const QString& key) const;
    // JSON blobs are stored as bytes; a text value is read as its UTF-8 bytes.
    std::optional<QByteArray> dataValue(const QString& key) const;

    // Absent or unreadable reads as false, as the user-defaults boolean lookup does.
    bool boolForKey(const QString& key) const { return boolValue(key).value_or(false); }

    void setBool(const QString& key, bool value);
    void setInteger(const QString& key, qint64 value);
    void setDouble(const QString& key, double value);
    void setString(const QString& key, const QString& value);
    void setData(const QString& key, const QByteArray& value);
    void remove(const QString& key);

    // The stored value as the user would read it back (bytes as UTF-8 text), for the command line.
    std::optional<QString> displayValue(const QString& key) const;

private:
    QVariant read(const QString& key) const;
    void write(const QString& key, const QVariant& value);

    QString m_filePath;
    mutable QMutex m_mutex;
    mutable QSettings m_settings;
};

} // namespace quenda
