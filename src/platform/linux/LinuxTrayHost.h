#pragma once

#include "platform/TrayHost.h"
#include "platform/linux/X11Connection.h"

#include <QDBusServiceWatcher>

namespace quenda {

// A tray on Linux: a StatusNotifierWatcher with a registered host on the session bus (the D-Bus trays of
// KDE, GNOME with app indicators, Xfce, LXQt…), or an XEmbed tray owning the _NET_SYSTEM_TRAY selection.
// Asking here, rather than Qt, matters: Qt settles on its kind of tray icon the first time it is asked and
// never changes its mind, so it must not be asked before a tray exists.
class LinuxTrayHost final : public TrayHost {
public:
    LinuxTrayHost();

    void probe(std::function<void(bool available)> done) override;
    void setAppearanceHandler(std::function<void()> handler) override;

private:
    bool hasXEmbedTray() const;

    X11Connection m_x11;
    QDBusServiceWatcher m_watcher;
    std::function<void()> m_handler;
};

} // namespace quenda
