#include "base/UnreadableValueKeeper.h"

#include "base/Log.h"
#include "base/PrivateFile.h"
#include "base/UserDefaults.h"

#include <QDateTime>
#include <QFileInfo>

namespace quenda {

UnreadableValueKeeper::UnreadableValueKeeper(UserDefaults& defaults, QString key, const char* logTag)
    : m_defaults(defaults)
    , m_key(std::move(key))
    , m_logTag(logTag)
{}

QString UnreadableValueKeeper::copyPath() const
{
    const QFileInfo settings(m_defaults.filePath());
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    return settings.absolutePath() + QLatin1Char('/') + m_key + QStringLiteral(".unreadable-") + stamp +
           QStringLiteral(".json");
}

bool UnreadableValueKeeper::mayOverwrite()
{
    if (!m_unread)
        return true;
    const QString path = copyPath();
    if (!PrivateFile::write(path, *m_unread)) {
        log(m_logTag, QStringLiteral("Could not keep a copy of the stored \"%1\", which could not be read in "
                                     "full, at %2; the change is not saved")
                          .arg(m_key, path));
        return false;
    }
    log(m_logTag, QStringLiteral("The stored \"%1\" could not be read in full; kept a copy at %2 before "
                                 "saving over it")
                      .arg(m_key, path));
    m_unread.reset();
    return true;
}

} // namespace quenda
