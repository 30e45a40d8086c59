#include "platform/linux/X11WindowActivation.h"

#include <X11/Xlib.h>

namespace quenda {

void X11WindowActivation::activate(quintptr window)
{
    Display* display = m_connection.display();
    if (!display || window == 0)
        return;
    X11Connection::ErrorTrap trap(display); // the window may be gone already
    const auto supporting = m_connection.cardinals(m_connection.root(), "_NET_SUPPORTING_WM_CHECK", "WINDOW");
    if (supporting && !supporting->isEmpty()) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = m_connection.atom("_NET_ACTIVE_WINDOW");
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // source: a pager, i.e. the user's own explicit request
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, m_connection.root(), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
    } else {
        XRaiseWindow(display, window);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
    }
    XSync(display, False);
}

} // namespace quenda
