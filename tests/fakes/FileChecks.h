#pragma once

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

} // namespace quenda::fakes
