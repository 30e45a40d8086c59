#include "base/PrivateFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace quenda::PrivateFile {

namespace {
constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions ownerFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
} // namespace

bool makeFolder(const QString& path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (QFileInfo(absolute).isDir())
        return true;
    const QString parent = QFileInfo(absolute).absolutePath();
    if (parent != absolute && !makeFolder(parent))
        return false;
    return QDir().mkdir(absolute, ownerFolder) || QFileInfo(absolute).isDir();
}

bool write(const QString& path, const QByteArray& contents)
{
    if (!makeFolder(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The temporary file gets its mode before anything is written into it; the rename keeps it.
    if (!file.setPermissions(ownerOnly))
        return false;
    if (file.write(contents) != contents.size())
        return false;
    return file.commit();
}

bool restrict(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return false;
    const QFileDevice::Permissions current = file.permissions();
    const QFileDevice::Permissions wanted =
        current & (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                   QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    return current == wanted || file.setPermissions(wanted);
}

} // namespace quenda::PrivateFile
