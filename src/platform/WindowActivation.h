#pragma once

#include <QtGlobal>

namespace quenda {

// Brings one of Quenda's own windows to the front with the keyboard focus, as a click on it in a taskbar
// would: a tray application has no window in front when the user picks a menu row, so an ordinary request
// would be refused by the window manager's focus-stealing prevention.
class WindowActivation {
public:
    virtual ~WindowActivation() = default;

    // `window` is the platform's identifier of a shown top-level window.
    virtual void activate(quintptr window) = 0;
};

} // namespace quenda
