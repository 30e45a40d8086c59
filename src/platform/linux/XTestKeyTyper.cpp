#include "platform/linux/XTestKeyTyper.h"

#include "platform/linux/KeymapReloadWatcher.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>

namespace quenda {

namespace {

unsigned long keysymForCodePoint(char32_t codePoint)
{
    if ((codePoint >= 0x20 && codePoint <= 0x7e) || (codePoint >= 0xa0 && codePoint <= 0xff))
        return codePoint;
    if (codePoint == '\n' || codePoint == '\r')
        return XK_Return;
    if (codePoint == '\t')
        return XK_Tab;
    if (codePoint == '\b')
        return XK_BackSpace;
    return 0x01000000u | codePoint;
}

// Code points whose keysym carries no character of its own and would have a key press no text.
bool isTypable(char32_t codePoint)
{
    return codePoint >= 0x20 || codePoint == '\n' || codePoint == '\r' || codePoint == '\t';
}

} // namespace

XTestKeyTyper::XTestKeyTyper() = default;
XTestKeyTyper::~XTestKeyTyper()
{
    if (m_x && !m_carried.isEmpty()) {
        // Leaving now (a command that typed and exits): let the target read what was typed first.
        waitForTarget(100);
        restoreKeycodes();
    }
}

bool XTestKeyTyper::ensureConnection()
{
    if (!m_x) {
        m_x = X11Connection::open();
        if (!m_x)
            return false;
        int event = 0, error = 0, major = 0, minor = 0;
        m_hasXTest = XTestQueryExtension(m_x->display(), &event, &error, &major, &minor);
        // Our own key events must pass even while the user holds a grab-active key.
        if (m_hasXTest)
            XTestGrabControl(m_x->display(), True);
    }
    return m_hasXTest;
}

bool XTestKeyTyper::canPostEvents() const
{
    if (m_x)
        return m_hasXTest;
    return const_cast<XTestKeyTyper*>(this)->ensureConnection();
}

void XTestKeyTyper::loadKeyboard()
{
    Display* display = m_x->display();
    m_keys.clear();
    m_spareKeycodes.clear();
    m_ownedKeycodes.clear();
    int minKeycode = 8, maxKeycode = 255;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);

    XModifierKeymap* modmap = XGetModifierMapping(display);
    for (int modifier = 0; modifier < 8; ++modifier) {
        m_modifierKeycode[modifier] = 0;
        for (int i = 0; i < modmap->max_keypermod; ++i) {
            const KeyCode code = modmap->modifiermap[modifier * modmap->max_keypermod + i];
            if (code) {
                m_modifierKeycode[modifier] = code;
                break;
            }
        }
    }
    XFreeModifiermap(modmap);

    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    XkbDescPtr xkb = XkbGetMap(display, XkbAllClientInfoMask, XkbUseCoreKbd);
    if (!xkb)
        return;
    // Levels reached with Shift and with AltGr (Mod5) only: other modifiers could turn a key into a command.
    const unsigned int usable = ShiftMask | Mod5Mask;
    for (int keycode = minKeycode; keycode <= maxKeycode; ++keycode) {
        const int groups = XkbKeyNumGroups(xkb, keycode);
        if (const auto carried = m_carried.constFind(static_cast<unsigned int>(keycode));
            carried != m_carried.cend()) {
            // Still ours when it still carries our keysym; a new layout may have replaced the whole map.
            if (groups > 0 && XkbKeySymEntry(xkb, keycode, 0, 0) == *carried) {
                m_ownedKeycodes << static_cast<unsigned int>(keycode);
                continue;
            }
            m_remapped.remove(*carried);
            m_carried.remove(static_cast<unsigned int>(keycode));
            m_lru.removeAll(static_cast<unsigned int>(keycode));
        }
        if (groups == 0) {
            m_spareKeycodes << static_cast<unsigned int>(keycode);
            continue;
        }
        const int group = state.group < groups ? state.group : 0;
        const XkbKeyTypePtr type = XkbKeyKeyType(xkb, keycode, group);
        const int levels = type->num_levels;
        for (int level = 0; level < levels; ++level) {
            const KeySym keysym = XkbKeySymEntry(xkb, keycode, level, group);
            if (keysym == NoSymbol || m_keys.contains(keysym))
                continue;
            std::optional<unsigned int> mask;
            if (level == 0) {
                mask = 0;
            } else {
                for (int e = 0; e < type->map_count; ++e) {
                    const XkbKTMapEntryRec& entry = type->map[e];
                    if (entry.active && entry.level == level && (entry.mods.mask & ~usable) == 0) {
                        mask = entry.mods.mask;
                        break;
                    }
                }
            }
            if (mask)
                m_keys.insert(keysym, KeyStroke{static_cast<unsigned int>(keycode), *mask});
        }
    }
    XkbFreeKeyboard(xkb, XkbAllComponentsMask, True);

    int perKeycode = 0;
    KeySym* all = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode), maxKeycode - minKeycode + 1,
                                      &perKeycode);
    m_keysymsPerKeycode = perKeycode;
    if (all) {
        // A keycode is spare only when no column of the core map names a keysym either.
        QList<unsigned int> spare;
        for (unsigned int keycode : std::as_const(m_spareKeycodes)) {
            bool empty = true;
            for (int c = 0; c < perKeycode; ++c)
                empty = empty && all[(keycode - minKeycode) * perKeycode + c] == NoSymbol;
            if (empty)
                spare << keycode;
        }
        m_spareKeycodes = spare + m_ownedKeycodes;
        XFree(all);
    }
    for (unsigned int keycode : std::as_const(m_spareKeycodes))
        if (!m_lru.contains(keycode))
            m_lru.prepend(keycode);
    for (qsizetype i = m_lru.size() - 1; i >= 0; --i)
        if (!m_spareKeycodes.contains(m_lru.at(i)))
            m_lru.removeAt(i);
}

std::optional<XTestKeyTyper::KeyStroke> XTestKeyTyper::strokeFor(unsigned long keysym) const
{
    const auto it = m_keys.constFind(keysym);
    if (it == m_keys.cend())
        return std::nullopt;
    return *it;
}

void XTestKeyTyper::pressModifiers(unsigned int mask, bool down)
{
    for (int modifier = 0; modifier < 8; ++modifier)
        if ((mask & (1u << modifier)) && m_modifierKeycode[modifier])
            XTestFakeKeyEvent(m_x->display(), m_modifierKeycode[modifier], down, CurrentTime);
}

void XTestKeyTyper::press(const KeyStroke& stroke)
{
    Display* display = m_x->display();
    pressModifiers(stroke.modifiers, true);
    XTestFakeKeyEvent(display, stroke.keycode, True, CurrentTime);
    XTestFakeKeyEvent(display, stroke.keycode, False, CurrentTime);
    pressModifiers(stroke.modifiers, false);
}

void XTestKeyTyper::releaseHeldModifiers()
{
    // The hotkey was just let go, but Ctrl, Alt or Super may still be down: typed letters would become
    // shortcuts. Release every modifier key the server sees pressed; Caps Lock is switched off for the
    // typing since it would change the case of letters (and back on afterwards by the caller).
    Display* display = m_x->display();
    char keys[32] = {};
    XQueryKeymap(display, keys);
    XModifierKeymap* modmap = XGetModifierMapping(display);
    for (int i = 0; i < 8 * modmap->max_keypermod; ++i) {
        const KeyCode code = modmap->modifiermap[i];
        if (code && (keys[code / 8] & (1 << (code % 8))))
            XTestFakeKeyEvent(display, code, False, CurrentTime);
    }
    XFreeModifiermap(modmap);
}

void XTestKeyTyper::waitForTarget(int keysSent)
{
    ++lastRoundTrips;
    if (!m_watcher || !m_watcher->waitForReload(reloadTimeoutSeconds)) {
        ++lastUnconfirmedReloads;
        XSync(m_x->display(), False);
    }
    // The fetch shows the target handling the mapping notices; the keys between them take it about a
    // millisecond each in the slowest toolkit measured.
    QThread::msleep(static_cast<unsigned long>(std::min(20 + keysSent, 400)));
}

unsigned long XTestKeyTyper::targetWindow() const
{
    Display* display = m_x->display();
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    if (focus != None && focus != PointerRoot && focus != m_x->root())
        return focus;
    if (auto active = m_x->cardinals(m_x->root(), "_NET_ACTIVE_WINDOW", "WINDOW");
        active && !active->isEmpty())
        return active->first();
    return 0;
}

void XTestKeyTyper::watchTarget()
{
    m_watcher.reset();
    const unsigned long target = targetWindow();
    if (!target)
        return;
    if (!m_ownWindow) {
        XSetWindowAttributes attributes{};
        m_ownWindow = XCreateWindow(m_x->display(), m_x->root(), -1, -1, 1, 1, 0, 0, InputOnly,
                                    CopyFromParent, 0, &attributes);
    }
    m_watcher = KeymapReloadWatcher::start(m_x->display(), m_ownWindow, target);
}

bool XTestKeyTyper::typeText(const QString& text)
{
    return typeCharacters(text) == Outcome::typed;
}

KeyboardSynthesizer::Outcome XTestKeyTyper::typeCharacters(const QString& text)
{
    if (!ensureConnection())
        return Outcome::noEventSource;
    if (m_restoreTimer)
        m_restoreTimer->stop();
    lastRoundTrips = 0;
    lastUnconfirmedReloads = 0;
    Display* display = m_x->display();
    loadKeyboard();
    releaseHeldModifiers();

    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    const bool capsLocked = state.locked_mods & LockMask;
    const unsigned int capsKey = XKeysymToKeycode(display, XK_Caps_Lock);
    if (capsLocked && capsKey) {
        XTestFakeKeyEvent(display, capsKey, True, CurrentTime);
        XTestFakeKeyEvent(display, capsKey, False, CurrentTime);
    }

    // Keycodes pressed since the target last confirmed reading the mapping: giving one of them a new
    // keysym now could change what an unread press means.
    QSet<unsigned int> pressedSinceSync;
    int keysSinceSync = 0;
    Outcome outcome = Outcome::typed;
    m_watcher.reset();

    const QList<uint> codePoints = text.toUcs4();
    for (uint codePoint : codePoints) {
        if (!isTypable(codePoint))
            continue;
        const unsigned long keysym = keysymForCodePoint(codePoint);
        ++keysSinceSync;
        if (auto stroke = strokeFor(keysym)) {
            press(*stroke);
            continue;
        }
        unsigned int keycode = m_remapped.value(keysym, 0);
        if (!keycode) {
            if (m_lru.isEmpty()) {
                outcome = Outcome::eventFailed;
                break;
            }
            keycode = m_lru.takeFirst();
            if (!m_watcher)
                watchTarget();
            if (m_carried.contains(keycode)) {
                if (pressedSinceSync.contains(keycode)) {
                    waitForTarget(keysSinceSync);
                    pressedSinceSync.clear();
                    keysSinceSync = 0;
                }
                m_remapped.remove(m_carried.value(keycode));
            }
            QList<KeySym> column(m_keysymsPerKeycode, static_cast<KeySym>(keysym));
            XChangeKeyboardMapping(display, static_cast<int>(keycode), m_keysymsPerKeycode, column.data(), 1);
            if (m_watcher)
                m_watcher->changeSent();
            m_carried.insert(keycode, keysym);
            m_remapped.insert(keysym, keycode);
        } else {
            m_lru.removeAll(keycode);
        }
        m_lru.append(keycode); // most recently used last
        press(KeyStroke{keycode, 0});
        pressedSinceSync.insert(keycode);
    }

    if (capsLocked && capsKey) {
        XTestFakeKeyEvent(display, capsKey, True, CurrentTime);
        XTestFakeKeyEvent(display, capsKey, False, CurrentTime);
    }
    XSync(display, False);
    scheduleRestore();
    return outcome;
}

void XTestKeyTyper::scheduleRestore()
{
    if (m_carried.isEmpty())
        return;
    // The keycodes keep their keysyms for a while: the target may still be reading the keys, and the next
    // dictation often needs the same characters again.
    if (!QCoreApplication::instance())
        return;
    if (!m_restoreTimer) {
        m_restoreTimer = std::make_unique<QTimer>();
        m_restoreTimer->setSingleShot(true);
        QObject::connect(m_restoreTimer.get(), &QTimer::timeout, m_restoreTimer.get(),
                         [this] { restoreKeycodes(); });
    }
    m_restoreTimer->start(static_cast<int>(restoreDelaySeconds * 1000));
}

void XTestKeyTyper::restoreKeycodes()
{
    if (!m_x || m_carried.isEmpty())
        return;
    Display* display = m_x->display();
    QList<KeySym> empty(m_keysymsPerKeycode, NoSymbol);
    for (auto it = m_carried.cbegin(); it != m_carried.cend(); ++it)
        XChangeKeyboardMapping(display, static_cast<int>(it.key()), m_keysymsPerKeycode, empty.data(), 1);
    XSync(display, False);
    m_carried.clear();
    m_remapped.clear();
    m_watcher.reset();
}

bool XTestKeyTyper::parseCombination(const QString& combination, QList<unsigned int>& keycodes)
{
    keycodes.clear();
    for (const QString& part : combination.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
        const QString name = part.trimmed().toLower();
        KeySym keysym = NoSymbol;
        if (name == QLatin1String("ctrl") || name == QLatin1String("control"))
            keysym = XK_Control_L;
        else if (name == QLatin1String("shift"))
            keysym = XK_Shift_L;
        else if (name == QLatin1String("alt"))
            keysym = XK_Alt_L;
        else if (name == QLatin1String("super"))
            keysym = XK_Super_L;
        else
            keysym = XStringToKeysym(name.toLatin1().constData());
        if (keysym == NoSymbol) // key names such as "Insert" are case-sensitive
            keysym = XStringToKeysym(part.trimmed().toLatin1().constData());
        const KeyCode code = keysym == NoSymbol ? 0 : XKeysymToKeycode(m_x->display(), keysym);
        if (!code)
            return false;
        keycodes << code;
    }
    return !keycodes.isEmpty();
}

bool XTestKeyTyper::canCreateShortcut(const QString& combination)
{
    QList<unsigned int> keycodes;
    return ensureConnection() && parseCombination(combination, keycodes);
}

bool XTestKeyTyper::postShortcut(const QString& combination)
{
    QList<unsigned int> keycodes;
    if (!ensureConnection() || !parseCombination(combination, keycodes))
        return false;
    Display* display = m_x->display();
    releaseHeldModifiers();
    for (unsigned int code : std::as_const(keycodes))
        XTestFakeKeyEvent(display, code, True, CurrentTime);
    for (auto it = keycodes.crbegin(); it != keycodes.crend(); ++it)
        XTestFakeKeyEvent(display, *it, False, CurrentTime);
    XSync(display, False);
    return true;
}

} // namespace quenda
