#pragma once

#include <QByteArray>
#include <QString>

// Files Quenda writes in the user's home are readable by the user only: mode 0600, in folders Quenda
// creates with mode 0700.
namespace quenda::PrivateFile {

// Creates the folder and its missing parents, each new one readable by the user only.
bool makeFolder(const QString& path);

// Replaces the file's contents at once: a temporary file with mode 0600 is written, then renamed over the
// old one, so a crash leaves either the old contents or the new, never a part.
bool write(const QString& path, const QByteArray& contents);

// Takes away every permission of the group and others from an existing file.
bool restrict(const QString& path);

} // namespace quenda::PrivateFile
