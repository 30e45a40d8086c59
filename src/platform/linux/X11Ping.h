#pragma once

#include "platform/linux/X11Connection.h"

#include <memory>

namespace quenda {

// Asks an application whether it has handled every event sent to it so far: the window manager's ping
// (_NET_WM_PING), which the application answers from its event loop, in order with its key events. So
// once the answer arrives, every key sent before the ping has been read with the keyboard mapping that was
// current when the application got to it.
class X11Ping {
public:
    // Null when the window's application does not answer pings (or `focus` is no window of it).
    static std::unique_ptr<X11Ping> forFocus(X11Connection& connection, unsigned long focus);
    ~X11Ping();
    X11Ping(const X11Ping&) = delete;
    X11Ping& operator=(const X11Ping&) = delete;

    // Sends a ping; call after everything it must follow has reached the server (XSync).
    void send();
    // Whether the last ping has been answered; never blocks.
    bool answered();
    // Waits for the answer at most `seconds`.
    bool wait(double seconds);

    unsigned long window() const { return m_window; }

private:
    X11Ping(std::unique_ptr<X11Connection> own, unsigned long window);
    void watchRoot(bool on);

    std::unique_ptr<X11Connection> m_x; // its own connection: the answers come with the root's traffic
    unsigned long m_window = 0;
    unsigned long m_serial = 0;
    bool m_pending = false;
    bool m_watching = false;
};

} // namespace quenda
