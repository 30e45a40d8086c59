#include "platform/linux/X11HotkeySource.h"

#include "platform/linux/X11KeyCodes.h"
#include "platform/linux/X11Keysyms.h"

#include <QSocketNotifier>

#include <algorithm>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace quenda {

namespace {

unsigned int xMask(quint64 flags)
{
    unsigned int mask = 0;
    if (flags & ModifierFlag::Shift)
        mask |= ShiftMask;
    if (flags & ModifierFlag::Control)
        mask |= ControlMask;
    if (flags & ModifierFlag::Option)
        mask |= Mod1Mask;
    if (flags & ModifierFlag::Command)
        mask |= Mod4Mask;
    return mask;
}

quint64 flagsFromState(unsigned int state)
{
    quint64 flags = 0;
    if (state & ShiftMask)
        flags |= ModifierFlag::Shift;
    if (state & ControlMask)
        flags |= ModifierFlag::Control;
    if (state & Mod1Mask)
        flags |= ModifierFlag::Option;
    if (state & Mod4Mask)
        flags |= ModifierFlag::Command;
    return flags;
}

// The modifier bit a key stands for, by its canonical code.
quint64 modifierOf(quint16 canonical)
{
    switch (canonical) {
    case 56:
    case 60:
        return ModifierFlag::Shift;
    case 59:
    case 62:
        return ModifierFlag::Control;
    case 58:
    case 61:
        return ModifierFlag::Option;
    case 55:
    case 54:
        return ModifierFlag::Command;
    default:
        return 0;
    }
}

bool isFnRole(int xKeycode)
{
    return xKeycode == X11KeyCodes::rightControl || xKeycode == X11KeyCodes::wakeUp;
}

} // namespace

X11HotkeySource::X11HotkeySource(QObject* parent)
    : QObject(parent)
{
    if (!m_x.isOpen())
        return;
    if (!m_x.hasXInput2(&m_xiOpcode))
        m_xiOpcode = -1;
    // Held keys repeat as presses only, without a release in between.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(m_x.display(), True, &supported);
    m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(m_x.display()), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11HotkeySource::processPendingEvents);
}

X11HotkeySource::~X11HotkeySource()
{
    removeGrab();
    stopObserving();
}

HotkeyEventSource::GrabResult X11HotkeySource::installGrab(quint16 keyCode, quint64 modifiers, Filter filter)
{
    removeGrab();
    if (!m_x.isOpen())
        return GrabResult::Unavailable;

    // The Fn role (Right Ctrl) is also the user's Control key: grabbing it would take Right Ctrl+C and every
    // other shortcut with it from the applications. It is observed instead, which keeps nothing from anyone.
    if (keyCode == 63)
        return m_xiOpcode >= 0 ? GrabResult::ObserveInstead : GrabResult::Unavailable;
    std::vector<std::pair<int, unsigned int>> wanted;
    if (const int keycode = X11KeyCodes::xKeycode(keyCode)) {
        const unsigned int required = xMask(modifiers);
        if (required == 0) {
            wanted.emplace_back(keycode, AnyModifier);
        } else {
            // Extra modifiers do not matter, and neither do CapsLock and NumLock.
            const unsigned int optional[] = {ShiftMask, ControlMask, Mod1Mask, Mod4Mask, LockMask, Mod2Mask};
            for (unsigned int combination = 0; combination < 64; ++combination) {
                unsigned int mask = required;
                for (int bit = 0; bit < 6; ++bit)
                    if (combination & (1u << bit))
                        mask |= optional[bit];
                if (std::find(wanted.begin(), wanted.end(), std::pair(keycode, mask)) == wanted.end())
                    wanted.emplace_back(keycode, mask);
            }
        }
    }
    if (wanted.empty())
        return GrabResult::Unavailable;
    if (!grabKeys(wanted)) {
        removeGrab();
        return GrabResult::Conflict;
    }
    m_filter = std::move(filter);
    processPendingEvents();
    return GrabResult::Installed;
}

bool X11HotkeySource::grabKeys(const std::vector<std::pair<int, unsigned int>>& keys)
{
    Display* display = m_x.display();
    const Window root = DefaultRootWindow(display);
    // X refuses a grab another client holds asynchronously (BadAccess): the trap waits for the answers.
    X11Connection::ErrorTrap trap(display);
    for (const auto& [keycode, mask] : keys)
        XGrabKey(display, keycode, mask, root, False, GrabModeAsync, GrabModeAsync);
    const bool refused = trap.failed();
    m_grabs.insert(m_grabs.end(), keys.begin(), keys.end());
    return !refused;
}

void X11HotkeySource::ungrabKeys(const std::vector<std::pair<int, unsigned int>>& keys)
{
    Display* display = m_x.display();
    const Window root = DefaultRootWindow(display);
    // Ungrabbing combinations that were refused is harmless; their errors are expected.
    X11Connection::ErrorTrap trap(display);
    for (const auto& [keycode, mask] : keys)
        XUngrabKey(display, keycode, mask, root);
}

void X11HotkeySource::removeGrab()
{
    m_filter = {};
    if (m_grabs.empty() || !m_x.isOpen())
        return;
    ungrabKeys(m_grabs);
    m_grabs.clear();
}

bool X11HotkeySource::startObserving(Observer observer)
{
    if (!m_x.isOpen() || m_xiOpcode < 0)
        return false;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
    XISelectEvents(m_x.display(), DefaultRootWindow(m_x.display()), &mask, 1);
    XSync(m_x.display(), False);
    m_observer = std::move(observer);
    processPendingEvents();
    return true;
}

void X11HotkeySource::stopObserving()
{
    m_observer = {};
    if (!m_x.isOpen() || m_xiOpcode < 0)
        return;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
    XISelectEvents(m_x.display(), DefaultRootWindow(m_x.display()), &mask, 1);
    XFlush(m_x.display());
}

std::optional<QString> X11HotkeySource::layoutKeyName(quint16 keyCode) const
{
    const int keycode = X11KeyCodes::xKeycode(keyCode);
    if (!m_x.isOpen() || keycode == 0)
        return std::nullopt;
    XkbStateRec state{};
    XkbGetState(m_x.display(), XkbUseCoreKbd, &state);
    // Named through the keysym tables, so Cyrillic_ef reads "ф" and Greek_alpha "α", not "Key 0".
    return X11Keysyms::text(XkbKeycodeToKeysym(m_x.display(), KeyCode(keycode), state.group, 0));
}

QString X11HotkeySource::functionKeyName() const
{
    return m_fnRoleIsRealFn ? QStringLiteral("Fn") : QStringLiteral("Right Ctrl");
}

void X11HotkeySource::processPendingEvents()
{
    if (!m_x.isOpen())
        return;
    Display* display = m_x.display();
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        handle(event);
    }
}

void X11HotkeySource::handle(XEvent& event)
{
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        return;
    }
    if (event.type == KeyPress || event.type == KeyRelease) {
        keyEvent(int(event.xkey.keycode), event.type == KeyPress, event.xkey.state, true, false);
        return;
    }
    if (event.type != GenericEvent || event.xcookie.extension != m_xiOpcode)
        return;
    Display* display = m_x.display();
    if (!XGetEventData(display, &event.xcookie))
        return;
    const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
    const int type = event.xcookie.evtype;
    if (type == XI_RawKeyPress || type == XI_RawKeyRelease)
        keyEvent(raw->detail, type == XI_RawKeyPress, 0, false, raw->flags & XIKeyRepeat);
    XFreeEventData(display, &event.xcookie);
}

quint64 X11HotkeySource::trackedModifierFlags() const
{
    quint64 flags = 0;
    for (int keycode : m_down) {
        if (isFnRole(keycode)) {
            flags |= ModifierFlag::Function;
            continue;
        }
        if (const auto canonical = X11KeyCodes::canonical(keycode))
            flags |= modifierOf(*canonical);
    }
    return flags;
}

void X11HotkeySource::keyEvent(int xKeycode, bool press, unsigned int coreState, bool fromGrab,
                               bool serverRepeat)
{
    const bool wasDown = m_down.contains(xKeycode);
    if (press)
        m_down.insert(xKeycode);
    else
        m_down.remove(xKeycode);

    // Grabbed events carry the server's modifier state from before the key; observed ones carry none, so
    // the keys seen going down and up stand in for it.
    quint64 flags = trackedModifierFlags();
    if (fromGrab)
        flags |= flagsFromState(coreState);
    if (std::any_of(m_down.cbegin(), m_down.cend(), isFnRole) || isFnRole(xKeycode)) {
        // Right Ctrl in the Fn role is no Control key; Left Ctrl still is.
        flags &= ~ModifierFlag::Control;
        if (m_down.contains(X11KeyCodes::xKeycode(59)))
            flags |= ModifierFlag::Control;
    }

    CanonicalKeyEvent event;
    event.isRepeat = press && (wasDown || serverRepeat);
    if (isFnRole(xKeycode)) {
        if (press)
            m_fnRoleIsRealFn = xKeycode == X11KeyCodes::wakeUp;
        event.type = CanonicalKeyEvent::Type::FlagsChanged;
        event.keyCode = 63;
        event.flags = press ? (flags | ModifierFlag::Function) : (flags & ~ModifierFlag::Function);
    } else {
        const std::optional<quint16> canonical = X11KeyCodes::canonical(xKeycode);
        if (!canonical)
            return; // a key without a place on the canonical keyboard can be no hotkey
        event.keyCode = *canonical;
        event.flags = flags;
        event.type = press ? CanonicalKeyEvent::Type::KeyDown : CanonicalKeyEvent::Type::KeyUp;
        if (const quint64 modifier = modifierOf(*canonical)) {
            event.type = CanonicalKeyEvent::Type::FlagsChanged;
            event.flags = press ? (flags | modifier) : (flags & ~modifier);
        }
    }
    if (fromGrab && m_filter)
        m_filter(event);
    else if (!fromGrab && m_observer)
        m_observer(event);
}

} // namespace quenda
