#include "platform/linux/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

#include "base/Log.h"

#include <algorithm>
#include <mutex>
#include <string_view>
#include <vector>

namespace quenda {

namespace {

// The error traps in force, on every thread. An error belongs to the innermost trap of its connection whose
// first request came at or before the failed one.
struct TrapRegistry {
    std::mutex mutex;
    std::vector<X11Connection::ErrorTrap*> traps;
};

TrapRegistry& registry()
{
    static TrapRegistry instance;
    return instance;
}

// Installed once for the process. Errors a trap expects are counted by it; any other is a fault of
// Quenda's own: it is reported, never ignored, and never ends the process (Xlib's default handler would).
int handleError(Display* display, XErrorEvent* error)
{
    {
        std::lock_guard lock(registry().mutex);
        auto& traps = registry().traps;
        for (auto it = traps.rbegin(); it != traps.rend(); ++it) {
            if ((*it)->owns(display, error->serial)) {
                (*it)->record(error->error_code);
                return 0;
            }
        }
    }
    char text[256] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    log("X11", QStringLiteral("Unexpected X error: %1 (request %2.%3, resource 0x%4)")
                   .arg(QString::fromLocal8Bit(text))
                   .arg(int(error->request_code))
                   .arg(int(error->minor_code))
                   .arg(QString::number(error->resourceid, 16)));
    return 0;
}

Display* openDisplay()
{
    static const bool installed = [] {
        XInitThreads();
        XSetErrorHandler(handleError);
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

std::optional<QString> X11Connection::displayProblem()
{
    const QByteArray name = qgetenv("DISPLAY");
    if (!qEnvironmentVariableIsSet("DISPLAY"))
        return QStringLiteral("DISPLAY is not set");
    if (name.trimmed().isEmpty())
        return QStringLiteral("DISPLAY is empty");
    if (!X11Connection().isOpen())
        return QStringLiteral("the X display \"%1\" named by DISPLAY cannot be opened")
            .arg(QString::fromLocal8Bit(name));
    return std::nullopt;
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
    ErrorTrap trap(m_display); // the window may belong to a client that just went away
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
    ErrorTrap trap(m_display);
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
    , m_firstRequest(NextRequest(display))
{
    std::lock_guard lock(registry().mutex);
    registry().traps.push_back(this);
}

X11Connection::ErrorTrap::~ErrorTrap()
{
    XSync(m_display, False); // the errors of the trapped requests arrive before the trap goes
    std::lock_guard lock(registry().mutex);
    std::erase(registry().traps, this);
}

bool X11Connection::ErrorTrap::owns(Display* display, unsigned long serial) const
{
    return display == m_display && serial >= m_firstRequest;
}

void X11Connection::ErrorTrap::record(int code)
{
    ++m_errors;
    m_lastCode = code;
}

bool X11Connection::ErrorTrap::failed()
{
    XSync(m_display, False);
    return m_errors.load() > 0;
}

int X11Connection::ErrorTrap::lastErrorCode()
{
    XSync(m_display, False);
    return m_lastCode.load();
}

} // namespace quenda
