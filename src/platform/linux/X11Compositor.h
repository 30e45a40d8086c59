#pragma once

#include "platform/linux/X11Connection.h"

namespace quenda {

// Whether a compositing manager runs on the display: only then do window opacity and translucency show.
// Compositors announce themselves by owning the selection _NET_WM_CM_S<screen>.
class X11Compositor {
public:
    X11Compositor();
    bool isRunning() const;

private:
    X11Connection m_connection;
    unsigned long m_selection = 0;
};

} // namespace quenda
