#include "platform/linux/XdgAutostartEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace quenda {

namespace {
const QString entryName = QStringLiteral("com.quenda.Quenda.desktop");

// The value of a key of the [Desktop Entry] group; nothing when absent.
std::optional<QString> entryValue(const QString& contents, const QString& key)
{
    bool inEntry = false;
    for (const QString& raw : contents.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inEntry && equals > 0 && line.left(equals).trimmed() == key)
            return line.mid(equals + 1).trimmed();
    }
    return std::nullopt;
}
} // namespace

XdgAutostartEntry::XdgAutostartEntry(QString executable)
    : m_executable(std::move(executable))
{}

QString XdgAutostartEntry::entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + entryName;
}

QString XdgAutostartEntry::execValue(const QString& program)
{
    // Inside quotes, ", `, $ and \ take a backslash; the entry format then doubles every backslash, and a
    // literal % is written %%.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : program)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString value;
    for (const QChar c : program) {
        if (needsQuotes && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            value += QLatin1Char('\\');
        value += c;
    }
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('%'), QStringLiteral("%%"));
    value.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    value.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    return needsQuotes ? QLatin1Char('"') + value + QLatin1Char('"') : value;
}

std::optional<QString> XdgAutostartEntry::registerApplication()
{
    const QString path = entryPath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QCoreApplication::translate("XdgAutostartEntry", "The folder %1 cannot be created.")
            .arg(folder);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Quenda\n"
                                         "Comment=Push-to-talk dictation\n"
                                         "Exec=%1\n"
                                         "Icon=com.quenda.Quenda\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(execValue(m_executable));
    file.write(entry.toUtf8());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

std::optional<QString> XdgAutostartEntry::unregisterApplication()
{
    QFile file(entryPath());
    if (file.exists() && !file.remove())
        return file.errorString();
    return std::nullopt;
}

bool XdgAutostartEntry::isRegistered() const
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString contents = QString::fromUtf8(file.read(64 * 1024));
    if (!contents.contains(QLatin1String("[Desktop Entry]")))
        return false;
    return entryValue(contents, QStringLiteral("Hidden")) != QLatin1String("true") &&
           entryValue(contents, QStringLiteral("X-GNOME-Autostart-enabled")) != QLatin1String("false");
}

} // namespace quenda
