#include "platform/linux/X11Workspace.h"

#include <QCoreApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace quenda {

std::unique_ptr<X11Workspace> X11Workspace::create()
{
    auto connection = X11Connection::open();
    if (!connection)
        return nullptr;
    return std::unique_ptr<X11Workspace>(new X11Workspace(std::move(connection)));
}

X11Workspace::X11Workspace(std::unique_ptr<X11Connection> connection)
    : m_x(std::move(connection))
{}

X11Workspace::~X11Workspace() = default;

bool X11Workspace::hasWindowManager() const
{
    const auto check = m_x->cardinals(m_x->root(), "_NET_SUPPORTING_WM_CHECK", "WINDOW");
    return check && !check->isEmpty() && check->first() != 0;
}

unsigned long X11Workspace::activeWindow() const
{
    if (const auto active = m_x->cardinals(m_x->root(), "_NET_ACTIVE_WINDOW", "WINDOW");
        active && !active->isEmpty() && active->first() != 0)
        return active->first();
    if (hasWindowManager())
        return 0;
    // No window manager: the focus window, walked up to the top-level window that names its class.
    Display* display = m_x->display();
    X11Connection::ErrorTrap trap(display); // windows on the way up may vanish meanwhile
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    Window window = focus;
    while (window != None && window != PointerRoot && window != m_x->root()) {
        XClassHint hint{};
        if (XGetClassHint(display, window, &hint)) {
            XFree(hint.res_name);
            XFree(hint.res_class);
            return window;
        }
        Window root = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        window = parent;
    }
    return 0;
}

std::optional<RunningApplication> X11Workspace::applicationOf(unsigned long window) const
{
    if (window == 0)
        return std::nullopt;
    const auto pid = m_x->cardinals(window, "_NET_WM_PID", "CARDINAL");
    if (!pid || pid->isEmpty())
        return std::nullopt;
    RunningApplication application;
    application.processIdentifier = static_cast<qint64>(pid->first());
    const auto wmClass = m_x->bytes(window, "WM_CLASS");
    QString className;
    if (wmClass) {
        const QList<QByteArray> parts = wmClass->split('\0');
        className = QString::fromUtf8(parts.value(1));
    }
    if (const auto gtkId = m_x->bytes(window, "_GTK_APPLICATION_ID"); gtkId && !gtkId->isEmpty())
        application.bundleIdentifier = QString::fromUtf8(*gtkId);
    else if (!className.isEmpty())
        application.bundleIdentifier = className;
    application.localizedName = className;
    return application;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() const
{
    return applicationOf(activeWindow());
}

QList<unsigned long> X11Workspace::clientWindows() const
{
    if (auto stacking = m_x->cardinals(m_x->root(), "_NET_CLIENT_LIST_STACKING", "WINDOW"))
        return *stacking;
    if (auto clients = m_x->cardinals(m_x->root(), "_NET_CLIENT_LIST", "WINDOW"))
        return *clients;
    // No window manager keeps a list: the viewable top-level windows, bottom to top, are the clients.
    Display* display = m_x->display();
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    QList<unsigned long> windows;
    X11Connection::ErrorTrap trap(display);
    if (!XQueryTree(display, m_x->root(), &root, &parent, &children, &count))
        return windows;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable &&
            !attributes.override_redirect && m_x->cardinals(children[i], "_NET_WM_PID", "CARDINAL"))
            windows << children[i];
    }
    if (children)
        XFree(children);
    return windows;
}

std::optional<RunningApplication> X11Workspace::runningApplication(qint64 processIdentifier) const
{
    const auto front = frontmostApplication();
    if (front && front->processIdentifier == processIdentifier)
        return front;
    for (unsigned long window : clientWindows()) {
        auto application = applicationOf(window);
        if (application && application->processIdentifier == processIdentifier)
            return application;
    }
    return std::nullopt;
}

bool X11Workspace::activate(qint64 processIdentifier)
{
    Display* display = m_x->display();
    QList<unsigned long> windows;
    for (unsigned long window : clientWindows()) {
        const auto pid = m_x->cardinals(window, "_NET_WM_PID", "CARDINAL");
        if (pid && !pid->isEmpty() && static_cast<qint64>(pid->first()) == processIdentifier)
            windows << window;
    }
    if (windows.isEmpty())
        return false;
    if (!hasWindowManager()) {
        // Nobody to ask: raise the windows and give the topmost the focus directly.
        for (unsigned long window : std::as_const(windows))
            XMapRaised(display, window);
        XSetInputFocus(display, windows.last(), RevertToParent, CurrentTime);
        XFlush(display);
        return true;
    }
    // Bottom to top, so the application's topmost window ends up active; a minimised window is mapped
    // again by the window manager when it is activated.
    const Atom activeAtom = m_x->atom("_NET_ACTIVE_WINDOW");
    for (unsigned long window : windows) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = activeAtom;
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // a pager-like request: honoured without focus-stealing checks
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, m_x->root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    }
    XFlush(display);
    return true;
}

ActivationSubscription X11Workspace::subscribeToActivations(ActivationHandler handler)
{
    ActivationSubscription inner = m_notices.subscribe(std::move(handler));
    startWatching();
    // The watch connection is closed again once nobody listens.
    auto shared = std::make_shared<ActivationSubscription>(std::move(inner));
    return ActivationSubscription([this, shared, alive = m_lifetime.witness()] {
        shared->reset();
        if (alive)
            stopWatchingWhenUnused();
    });
}

void X11Workspace::startWatching()
{
    if (!m_notifier && QCoreApplication::instance()) {
        m_watch = X11Connection::open();
        if (!m_watch)
            return;
        XSelectInput(m_watch->display(), m_watch->root(), PropertyChangeMask);
        XFlush(m_watch->display());
        m_notifier =
            std::make_unique<QSocketNotifier>(ConnectionNumber(m_watch->display()), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                         [this] { drainEvents(); });
        if (const auto front = frontmostApplication())
            m_lastActivePid = front->processIdentifier;
    }
}

void X11Workspace::stopWatchingWhenUnused()
{
    if (!m_notices.isEmpty())
        return;
    m_notifier.reset();
    m_watch.reset();
}

void X11Workspace::drainEvents()
{
    Display* display = m_watch->display();
    const Atom activeAtom = m_watch->atom("_NET_ACTIVE_WINDOW");
    bool activeChanged = false;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == PropertyNotify && event.xproperty.atom == activeAtom)
            activeChanged = true;
    }
    if (!activeChanged || m_notices.isEmpty())
        return;
    const auto front = frontmostApplication();
    // Switching between two windows of one application is not an activation of another application.
    if (!front || front->processIdentifier == m_lastActivePid)
        return;
    m_lastActivePid = front->processIdentifier;
    m_notices.notify(*front);
}

std::optional<QString> X11Workspace::ownBundleIdentifier() const
{
    // Qt names its windows' WM_CLASS class after the application name.
    return QCoreApplication::applicationName();
}

} // namespace quenda
