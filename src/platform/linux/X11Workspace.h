#pragma once

#include "base/Lifetime.h"
#include "platform/Workspace.h"
#include "platform/linux/X11Connection.h"

#include <QSocketNotifier>

#include <memory>

namespace quenda {

// The desktop's applications under X11 with an EWMH window manager: the front application is the owner
// of _NET_ACTIVE_WINDOW (its app id from _GTK_APPLICATION_ID, else the WM_CLASS class; its process from
// _NET_WM_PID), activation is the _NET_ACTIVE_WINDOW request, and notices come from watching that root
// property. Without a window manager the input focus stands in for the active window.
class X11Workspace final : public Workspace {
public:
    // Null without a display.
    static std::unique_ptr<X11Workspace> create();
    ~X11Workspace() override;

    std::optional<RunningApplication> frontmostApplication() const override;
    std::optional<RunningApplication> runningApplication(qint64 processIdentifier) const override;
    bool activate(qint64 processIdentifier) override;
    ActivationSubscription subscribeToActivations(ActivationHandler handler) override;
    std::optional<QString> ownBundleIdentifier() const override;

    // The client window an application shows in front.
    unsigned long activeWindow() const;
    // Activation notices need a window manager: without one nothing announces a change of the front window.
    bool hasWindowManager() const;

private:
    explicit X11Workspace(std::unique_ptr<X11Connection> connection);
    std::optional<RunningApplication> applicationOf(unsigned long window) const;
    QList<unsigned long> clientWindows() const;
    void startWatching();
    void stopWatchingWhenUnused();
    void drainEvents();

    std::unique_ptr<X11Connection> m_x;
    // A connection that only listens: its socket carries nothing but the notices, so the notifier sees
    // every one of them (requests on m_x would pull events into Xlib's queue unseen).
    std::unique_ptr<X11Connection> m_watch;
    std::unique_ptr<QSocketNotifier> m_notifier;
    ActivationNotices m_notices;
    std::optional<qint64> m_lastActivePid;
    Lifetime m_lifetime;
};

} // namespace quenda
