#pragma once

#include "platform/WindowActivation.h"
#include "platform/linux/X11Connection.h"

namespace quenda {

// Activation through the window manager (_NET_ACTIVE_WINDOW sent as a pager would, which window managers
// honour without focus-stealing checks); without a window manager, a raise and the input focus.
class X11WindowActivation final : public WindowActivation {
public:
    void activate(quintptr window) override;

private:
    X11Connection m_connection;
};

} // namespace quenda
