#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <optional>

class QFileSystemWatcher;

namespace quenda {

// The user-defaults domain: typed values under the system's key names (settings::all()), kept in one settings
// file that only the user may read. Values that cannot be read as the asked type read as absent, so corrupt
// entries behave like missing ones. Observable: changed(key) follows every change of a value, whether this
// process made it or another one rewrote the file (the file is watched, also when it is replaced by a
// rename). Safe to use from several threads; the watching runs on the thread that made the store.
class UserDefaults : public QObject {
    Q_OBJECT
public:
    explicit UserDefaults(const QString& filePath, QObject* parent = nullptr);
    ~UserDefaults() override;

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

    // Calls `handler` on the context's thread after every change of the key's value, for as long as the
    // context lives.
    QMetaObject::Connection onChange(const QString& key, const QObject* context,
                                     std::function<void()> handler);

    // Reads the file again now (the watcher does it on its own; tests and the command line need not wait).
    void reload();

Q_SIGNALS:
    // A value was set, changed, or removed; emitted on the thread that made the change (the store's own
    // thread for changes found in the file).
    void changed(const QString& key);

private:
    QVariant read(const QString& key) const;
    void write(const QString& key, const QVariant& value);
    void watch();
    void restrictPermissions() const;

    QString m_filePath;
    mutable QMutex m_mutex;
    mutable QSettings m_settings;
    QHash<QString, QString> m_known; // every value as last seen, to tell what a change of the file changed
    QFileSystemWatcher* m_watcher = nullptr;
    bool m_reloadPending = false;
};

} // namespace quenda
