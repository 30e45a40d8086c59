#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quenda {

class UserDefaults;

// Sees to it that a stored value which could not be read in full is never overwritten unseen: the first
// save over it first writes the stored bytes to a file beside the settings file (readable by the user
// only) and says where in the log. When no copy can be written, the save does not happen.
class UnreadableValueKeeper {
public:
    UnreadableValueKeeper(UserDefaults& defaults, QString key, const char* logTag);

    // What the last load found: the stored bytes when some of them could not be read, else nothing.
    void setUnread(std::optional<QByteArray> stored) { m_unread = std::move(stored); }
    bool hasUnread() const { return m_unread.has_value(); }

    // Called before every save of the key; false when the save must not happen.
    bool mayOverwrite();

    // Where a copy made now goes: beside the settings file, named after the key and the time.
    QString copyPath() const;

private:
    UserDefaults& m_defaults;
    QString m_key;
    const char* m_logTag;
    std::optional<QByteArray> m_unread;
};

} // namespace quenda
