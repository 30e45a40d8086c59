#include "platform/linux/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

#include <atomic>
#include <string_view>

namespace quenda {

namespace {
std::atomic_int g_trappedErrors{0};

int trapError(Display*, XErrorEvent*)
{
    ++g_trappedErrors;
    return 0;
}

int quietError(Display*, XErrorEvent*)
{
    return 0;
}

// Installed once, before the first connection: a window that vanished between two requests must not
// end the process, which is what the default handler does.
Display* openDisplay()
{
    static const bool installed = [] {
        XInitThreads();
        XSetErrorHandler(quietError);
        return true;
    }();
    Q_UNUSED(installed);
    return XOpenDisplay(nullptr);
}
} // namespace

std::unique_ptr<X11Connection> X11Connection::open()
{
    Display* display = openDisplay();
    if (!display)
        return nullptr;
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

X11Connection::X11Connection()
    : m_display(openDisplay())
{}

X11Connection::X11Connection(Display* display)
    : m_display(display)
{}

X11Connection::~X11Connection()
{
    if (m_display)
        XCloseDisplay(m_display);
}

bool X11Connection::hasXInput2(int* opcode) const
{
    if (!m_display)
        return false;
    int xiOpcode = 0;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(m_display, "XInputExtension", &xiOpcode, &event, &error))
        return false;
    // 2.2: raw events keep arriving while another client grabs the keyboard.
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(m_display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 1))
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
    return XTestQueryExtension(m_display, &event, &error, &major, &minor);
}

XID X11Connection::root() const
{
    return DefaultRootWindow(m_display);
}

unsigned long X11Connection::atom(const char* name) const
{
    return XInternAtom(m_display, name, False);
}

std::optional<QList<unsigned long>> X11Connection::cardinals(XID window, const char* property,
                                                             const char* type) const
{
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const Atom wanted = std::string_view(type) == "WINDOW" ? XA_WINDOW
                        : std::string_view(type) == "ATOM" ? XA_ATOM
                                                           : XA_CARDINAL;
    const int status = XGetWindowProperty(m_display, window, atom(property), 0, 1024, False, wanted,
                                          &actualType, &format, &count, &remaining, &data);
    std::optional<QList<unsigned long>> result;
    if (status == Success && data && format == 32 && actualType == wanted) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        result = QList<unsigned long>(values, values + count);
    }
    if (data)
        XFree(data);
    return result;
}

std::optional<QByteArray> X11Connection::bytes(XID window, const char* property) const
{
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(m_display, window, atom(property), 0, 4096, False, AnyPropertyType,
                                          &actualType, &format, &count, &remaining, &data);
    std::optional<QByteArray> result;
    if (status == Success && data && format == 8)
        result = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(count));
    if (data)
        XFree(data);
    return result;
}

X11Connection::ErrorTrap::ErrorTrap(Display* display)
    : m_display(display)
{
    XSync(m_display, False);
    g_trappedErrors = 0;
    m_previous = reinterpret_cast<int (*)(Display*, void*)>(XSetErrorHandler(trapError));
}

X11Connection::ErrorTrap::~ErrorTrap()
{
    XSync(m_display, False);
    XSetErrorHandler(reinterpret_cast<XErrorHandler>(m_previous));
}

bool X11Connection::ErrorTrap::failed()
{
    XSync(m_display, False);
    return g_trappedErrors.load() > 0;
}

} // namespace quenda
