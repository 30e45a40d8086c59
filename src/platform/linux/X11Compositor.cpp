#include "platform/linux/X11Compositor.h"

#include <X11/Xlib.h>

namespace quenda {

X11Compositor::X11Compositor()
{
    if (!m_connection.isOpen())
        return;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(m_connection.display()));
    m_selection = m_connection.atom(name.constData());
}

bool X11Compositor::isRunning() const
{
    return m_selection != 0 && XGetSelectionOwner(m_connection.display(), m_selection) != None;
}

} // namespace quenda
