#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <sys/stat.h>

namespace quenda::fakes {

// True when the file exists and neither its group nor anyone else may read, write or run it.
inline bool onlyTheUserCanRead(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// The file's bytes (empty when it cannot be read).
inline QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the bytes, making the folders on the way.
inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace quenda::fakes
