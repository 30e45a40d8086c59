#include "platform/linux/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

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

// Installed once: a window that vanished between two requests must not end the process, which is what
// the default handler does.
int quietError(Display*, XErrorEvent*)
{
    return 0;
}
} // namespace

std::unique_ptr<X11Connection> X11Connection::open()
{
    static const bool installed = [] {
        XInitThreads();
        XSetErrorHandler(quietError);
        return true;
    }();
    Q_UNUSED(installed);
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

X11Connection::X11Connection(Display* display)
    : m_display(display)
{}

X11Connection::~X11Connection()
{
    XCloseDisplay(m_display);
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
