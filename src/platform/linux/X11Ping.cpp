#include "platform/linux/X11Ping.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>

namespace quenda {

namespace {

// Xorg hands out resource ids with the client number above these bits.
constexpr unsigned long clientIdMask = 0x1fffff;

bool answersPings(X11Connection& x, Window window)
{
    Atom* protocols = nullptr;
    int count = 0;
    bool found = false;
    X11Connection::ErrorTrap trap(x.display());
    if (XGetWMProtocols(x.display(), window, &protocols, &count)) {
        const Atom ping = x.atom("_NET_WM_PING");
        for (int i = 0; i < count; ++i)
            found = found || protocols[i] == ping;
        XFree(protocols);
    }
    return found && !trap.failed();
}

// The client window holding the focus: the focus window itself or the nearest ancestor with WM_PROTOCOLS.
Window clientWindow(X11Connection& x, Window window)
{
    Display* display = x.display();
    const Atom protocols = x.atom("WM_PROTOCOLS");
    X11Connection::ErrorTrap trap(display);
    for (int depth = 0; window != None && depth < 16; ++depth) {
        int count = 0;
        Atom* atoms = XListProperties(display, window, &count);
        bool has = false;
        for (int i = 0; i < count; ++i)
            has = has || atoms[i] == protocols;
        if (atoms)
            XFree(atoms);
        if (has)
            return window;
        Window root = None, parent = None, *children = nullptr;
        unsigned int childCount = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &childCount))
            return None;
        if (children)
            XFree(children);
        if (parent == root)
            return None;
        window = parent;
    }
    return None;
}

} // namespace

std::unique_ptr<X11Ping> X11Ping::forFocus(X11Connection& connection, unsigned long focus)
{
    if (!connection.isOpen() || focus == None)
        return nullptr;
    const Window client = clientWindow(connection, focus);
    // The answer proves something about the keys only when the same connection receives both.
    if (client == None || (client & ~clientIdMask) != (focus & ~clientIdMask) ||
        !answersPings(connection, client))
        return nullptr;
    auto own = X11Connection::open();
    if (!own)
        return nullptr;
    return std::unique_ptr<X11Ping>(new X11Ping(std::move(own), client));
}

X11Ping::X11Ping(std::unique_ptr<X11Connection> own, unsigned long window)
    : m_x(std::move(own))
    , m_window(window)
    , m_serial(QRandomGenerator::global()->bounded(1u << 30) + (1u << 30))
{}

X11Ping::~X11Ping()
{
    watchRoot(false);
}

void X11Ping::watchRoot(bool on)
{
    if (on == m_watching)
        return;
    m_watching = on;
    // Answers go to the root window, to whoever listens for its children's traffic (Qt sends them to the
    // listeners of the root's own structure). Only while a ping is out: nothing else there is of interest.
    XSelectInput(m_x->display(), m_x->root(),
                 on ? SubstructureNotifyMask | StructureNotifyMask : NoEventMask);
    if (!on)
        XFlush(m_x->display());
}

void X11Ping::send()
{
    Display* display = m_x->display();
    watchRoot(true);
    ++m_serial;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = m_window;
    event.xclient.message_type = m_x->atom("WM_PROTOCOLS");
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(m_x->atom("_NET_WM_PING"));
    event.xclient.data.l[1] = static_cast<long>(m_serial);
    event.xclient.data.l[2] = static_cast<long>(m_window);
    X11Connection::ErrorTrap trap(display);
    XSendEvent(display, m_window, False, NoEventMask, &event);
    m_pending = !trap.failed();
}

bool X11Ping::answered()
{
    if (!m_pending)
        return true;
    Display* display = m_x->display();
    const Atom ping = m_x->atom("_NET_WM_PING");
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ClientMessage && event.xclient.format == 32 &&
            static_cast<Atom>(event.xclient.data.l[0]) == ping &&
            static_cast<unsigned long>(event.xclient.data.l[1]) == m_serial)
            m_pending = false;
    }
    if (!m_pending)
        watchRoot(false);
    return !m_pending;
}

bool X11Ping::wait(double seconds)
{
    QElapsedTimer timer;
    timer.start();
    const int fd = ConnectionNumber(m_x->display());
    while (!answered()) {
        const qint64 left = static_cast<qint64>(seconds * 1000) - timer.elapsed();
        if (left <= 0)
            return false;
        pollfd readable{fd, POLLIN, 0};
        ::poll(&readable, 1, static_cast<int>(std::min<qint64>(left, 50)));
    }
    return true;
}

} // namespace quenda
