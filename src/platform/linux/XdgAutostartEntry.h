#pragma once

#include "platform/LoginItemService.h"

namespace quenda {

// Launch at login the freedesktop way: a desktop entry in $XDG_CONFIG_HOME/autostart/ that every desktop
// (GNOME, KDE, Xfce, LXQt…) starts at login. The entry is readable by the user only. It counts as
// registered while it exists and neither hides itself nor is switched off by the desktop's own settings.
class XdgAutostartEntry final : public LoginItemService {
public:
    // `executable` is the program the entry starts.
    explicit XdgAutostartEntry(QString executable);

    std::optional<QString> registerApplication() override;
    std::optional<QString> unregisterApplication() override;
    bool isRegistered() const override;

    // $XDG_CONFIG_HOME/autostart/com.quenda.Quenda.desktop
    static QString entryPath();
    // The program as a desktop entry's Exec value: quoted when it must be, with the entry format's escapes.
    static QString execValue(const QString& program);

private:
    QString m_executable;
};

} // namespace quenda
