#include "platform/linux/X11Connection.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

namespace quenda {

void X11Connection::Closer::operator()(Display* display) const
{
    XCloseDisplay(display);
}

X11Connection::X11Connection()
    : m_display(XOpenDisplay(nullptr))
{}

bool X11Connection::hasXInput2(int* opcode) const
{
    if (!m_display)
        return false;
    int xiOpcode = 0;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display(), "XInputExtension", &xiOpcode, &event, &error))
        return false;
    // 2.2: raw events keep arriving while another client grabs the keyboard.
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(display(), &major, &minor) != Success || major < 2 || (major == 2 && minor < 1))
        return false;
    if (opcode)
        *opcode = xiOpcode;
    return true;
}

bool X11Connection::hasXTest() const
{
    if (!m_display)
        return false;
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    return XTestQueryExtension(display(), &event, &error, &major, &minor);
}

} // namespace quenda
