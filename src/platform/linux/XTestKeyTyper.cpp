#include "platform/linux/XTestKeyTyper.h"

#include "platform/linux/KeymapReloadWatcher.h"
#include "platform/linux/X11Keysyms.h"
#include "platform/linux/X11Ping.h"

#include <QCoreApplication>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace quenda {

namespace {

// Levels reached with Shift and with AltGr (Mod5) only: other modifiers could turn a key into a command.
constexpr unsigned int usableModifiers = ShiftMask | Mod5Mask;
constexpr const char* ownershipProperty = "_QUENDA_REMAPPED_KEYCODES";

int typeIndex(XkbDescPtr xkb, Display* display, const char* name)
{
    if (!xkb->names || !xkb->map)
        return -1;
    const Atom wanted = XInternAtom(display, name, False);
    for (int i = 0; i < xkb->map->num_types; ++i)
        if (xkb->map->types[i].name == wanted)
            return i;
    return -1;
}

// The real modifiers that select `level` of the key type, if only Shift and AltGr are involved.
std::optional<unsigned int> levelMask(const XkbKeyTypeRec& type, int level)
{
    if (level == 0)
        return 0u;
    for (int e = 0; e < type.map_count; ++e) {
        const XkbKTMapEntryRec& entry = type.map[e];
        if (entry.active && entry.level == level && entry.mods.mask != 0 &&
            (entry.mods.mask & ~usableModifiers) == 0)
            return entry.mods.mask;
    }
    return std::nullopt;
}

bool processAlive(long pid)
{
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

} // namespace

XTestKeyTyper::XTestKeyTyper() = default;

XTestKeyTyper::~XTestKeyTyper()
{
    if (m_x && !m_assigned.isEmpty()) {
        // Leaving (a command that typed and exits): the application reads what was typed first. If it never
        // shows that it has, the keycodes stay as they are and the next start puts them back.
        if (m_unconfirmed.isEmpty() || confirmConsumed() == Confirmation::confirmed)
            restoreKeycodes();
    }
    m_watcher.reset();
    m_ping.reset();
    if (m_xkb)
        XkbFreeKeyboard(m_xkb, XkbAllComponentsMask, True);
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
    if (m_hasXTest && !m_staleChecked) {
        m_staleChecked = true;
        restoreStaleRemaps();
    }
    return m_hasXTest;
}

bool XTestKeyTyper::canPostEvents() const
{
    if (m_x)
        return m_hasXTest;
    return const_cast<XTestKeyTyper*>(this)->ensureConnection();
}

bool XTestKeyTyper::loadKeyboard()
{
    Display* display = m_x->display();
    if (m_xkb)
        XkbFreeKeyboard(m_xkb, XkbAllComponentsMask, True);
    m_xkb = XkbGetMap(display, XkbAllClientInfoMask, XkbUseCoreKbd);
    if (!m_xkb)
        return false;
    XkbGetNames(display, XkbKeyTypeNamesMask | XkbKeyNamesMask, m_xkb);

    XModifierKeymap* modmap = XGetModifierMapping(display);
    for (int modifier = 0; modifier < 8; ++modifier) {
        m_modifierKeycode[modifier] = 0;
        for (int i = 0; i < modmap->max_keypermod; ++i) {
            const KeyCode code = modmap->modifiermap[modifier * modmap->max_keypermod + i];
            // Mode_switch shifts the group, not the level: AltGr levels need ISO_Level3_Shift.
            if (code && XkbKeycodeToKeysym(display, code, 0, 0) != XK_Mode_switch) {
                m_modifierKeycode[modifier] = code;
                break;
            }
        }
    }
    XFreeModifiermap(modmap);
    loadSlotType(m_xkb);

    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    const int minKeycode = m_xkb->min_key_code, maxKeycode = m_xkb->max_key_code;
    int perKeycode = 0;
    KeySym* core = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode), maxKeycode - minKeycode + 1,
                                       &perKeycode);

    const QList<unsigned int> oldKeycodes = m_slotKeycodes;
    const QList<unsigned long> oldKeysyms = m_slotKeysym;
    const int oldLevels =
        std::max(1, static_cast<int>(oldKeysyms.size() / std::max<qsizetype>(1, oldKeycodes.size())));
    m_keys.clear();
    m_slotKeycodes.clear();
    m_slotKeysym.clear();
    m_assigned.clear();
    QSet<int> unconfirmed;
    for (int keycode = minKeycode; keycode <= maxKeycode; ++keycode) {
        const int groups = XkbKeyNumGroups(m_xkb, keycode);
        // A keycode carrying our characters is still ours while it carries exactly them.
        if (const qsizetype old = oldKeycodes.indexOf(static_cast<unsigned int>(keycode)); old >= 0) {
            bool ours =
                groups == 1 && oldLevels == m_levels && XkbKeyKeyTypeIndex(m_xkb, keycode, 0) == m_slotType;
            bool empty = groups == 0;
            for (int level = 0; ours && level < m_levels; ++level) {
                const unsigned long carried = oldKeysyms.value(old * oldLevels + level);
                ours = XkbKeySymEntry(m_xkb, keycode, level, 0) == (carried ? carried : NoSymbol);
            }
            if (ours || empty) {
                const int base = static_cast<int>(m_slotKeycodes.size()) * m_levels;
                m_slotKeycodes << static_cast<unsigned int>(keycode);
                for (int level = 0; level < m_levels; ++level) {
                    const unsigned long carried = ours ? oldKeysyms.value(old * oldLevels + level) : 0;
                    m_slotKeysym << carried;
                    if (carried) {
                        m_assigned.insert(carried, base + level);
                        if (m_unconfirmed.contains(static_cast<int>(old * oldLevels + level)))
                            unconfirmed.insert(base + level);
                    }
                }
                continue;
            }
            // A new layout took the keycode over: it is no longer ours to change.
        }
        if (groups == 0) {
            bool coreEmpty = true;
            for (int c = 0; core && c < perKeycode; ++c)
                coreEmpty = coreEmpty && core[(keycode - minKeycode) * perKeycode + c] == NoSymbol;
            if (coreEmpty) {
                m_slotKeycodes << static_cast<unsigned int>(keycode);
                for (int level = 0; level < m_levels; ++level)
                    m_slotKeysym << 0;
            }
            continue;
        }
        const int group = state.group < groups ? state.group : 0;
        const XkbKeyTypePtr type = XkbKeyKeyType(m_xkb, keycode, group);
        for (int level = 0; level < type->num_levels; ++level) {
            const KeySym keysym = XkbKeySymEntry(m_xkb, keycode, level, group);
            if (keysym == NoSymbol || m_keys.contains(keysym))
                continue;
            if (const auto mask = levelMask(*type, level))
                m_keys.insert(keysym, KeyStroke{static_cast<unsigned int>(keycode), *mask});
        }
    }
    if (core)
        XFree(core);
    m_unconfirmed = unconfirmed;
    return true;
}

void XTestKeyTyper::loadSlotType(XkbDescPtr xkb)
{
    // Four characters per spare keycode where the layout has an AltGr key, two with Shift alone.
    const bool hasShift = m_modifierKeycode[ShiftMapIndex] != 0;
    const bool hasAltGr = m_modifierKeycode[Mod5MapIndex] != 0;
    m_slotType = 0;
    m_levels = 1;
    for (const auto& [name, levels] : {std::pair("FOUR_LEVEL", 4), std::pair("TWO_LEVEL", 2)}) {
        const int index = typeIndex(xkb, m_x->display(), name);
        if (index < 0 || xkb->map->types[index].num_levels != levels)
            continue;
        unsigned int masks[4] = {};
        bool usable = true;
        for (int level = 0; usable && level < levels; ++level) {
            const auto mask = levelMask(xkb->map->types[index], level);
            usable = mask && (!(*mask & ShiftMask) || hasShift) && (!(*mask & Mod5Mask) || hasAltGr);
            masks[level] = mask.value_or(0);
        }
        if (usable) {
            m_slotType = index;
            m_levels = levels;
            std::copy(std::begin(masks), std::end(masks), std::begin(m_levelMask));
            return;
        }
    }
}

std::optional<XTestKeyTyper::KeyStroke> XTestKeyTyper::layoutStroke(char32_t codePoint,
                                                                    unsigned long* keysym) const
{
    const QList<unsigned long> keysyms = X11Keysyms::forCodePoint(codePoint);
    if (keysym)
        *keysym = keysyms.value(0, NoSymbol);
    for (unsigned long candidate : keysyms)
        if (const auto it = m_keys.constFind(candidate); it != m_keys.cend())
            return *it;
    return std::nullopt;
}

XTestKeyTyper::KeyStroke XTestKeyTyper::slotStroke(int slot) const
{
    return KeyStroke{m_slotKeycodes.at(slot / m_levels), m_levelMask[slot % m_levels]};
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

namespace {
unsigned long focusWindow(X11Connection& x)
{
    Window focus = None;
    int revert = 0;
    XGetInputFocus(x.display(), &focus, &revert);
    if (focus != None && focus != PointerRoot && focus != x.root())
        return focus;
    if (auto active = x.cardinals(x.root(), "_NET_ACTIVE_WINDOW", "WINDOW"); active && !active->isEmpty())
        return active->first();
    return 0;
}
} // namespace

void XTestKeyTyper::watchTarget()
{
    const unsigned long target = focusWindow(*m_x);
    if (target == m_target && (m_ping || m_watcher))
        return;
    // Keys still on their way to the previous application keep their keycodes until it has read them.
    if (!m_unconfirmed.isEmpty() && confirmConsumed() == Confirmation::confirmed)
        m_unconfirmed.clear();
    m_target = target;
    m_ping.reset();
    m_watcher.reset();
    if (!target)
        return;
    m_ping = X11Ping::forFocus(*m_x, target);
    if (m_ping)
        return;
    if (!m_ownWindow) {
        XSetWindowAttributes attributes{};
        m_ownWindow = XCreateWindow(m_x->display(), m_x->root(), -1, -1, 1, 1, 0, 0, InputOnly,
                                    CopyFromParent, 0, &attributes);
    }
    m_watcher = KeymapReloadWatcher::start(m_x->display(), m_ownWindow, target);
}

bool XTestKeyTyper::beginConfirmation()
{
    Display* display = m_x->display();
    XSync(display, False);
    if (m_ping) {
        m_ping->send();
        lastConfirmationWay = QStringLiteral("ping");
        return true;
    }
    if (m_watcher && !m_slotKeycodes.isEmpty()) {
        // A marker: a change that alters nothing, then a key that makes the application look the mapping up.
        // It fetches the mapping when it gets to them, after every key sent before.
        if (!writeSlots({m_slotKeycodes.first()}))
            return false;
        m_watcher->changeSent();
        if (const unsigned int shift = m_modifierKeycode[ShiftMapIndex]) {
            XTestFakeKeyEvent(display, shift, True, CurrentTime);
            XTestFakeKeyEvent(display, shift, False, CurrentTime);
        }
        XSync(display, False);
        lastConfirmationWay = QStringLiteral("reload");
        return true;
    }
    lastConfirmationWay = QStringLiteral("none");
    return false;
}

bool XTestKeyTyper::confirmationArrived()
{
    if (m_ping)
        return m_ping->answered();
    return m_watcher && m_watcher->reloaded();
}

XTestKeyTyper::Confirmation XTestKeyTyper::confirmConsumed()
{
    if (!beginConfirmation())
        return Confirmation::impossible;
    ++lastConfirmations;
    const bool arrived =
        m_ping ? m_ping->wait(confirmTimeoutSeconds) : m_watcher->waitForReload(confirmTimeoutSeconds);
    if (!arrived)
        return Confirmation::timedOut;
    m_unconfirmed.clear();
    return Confirmation::confirmed;
}

bool XTestKeyTyper::remapFor(const QList<char32_t>& codePoints, qsizetype from)
{
    const qsizetype capacity = m_slotKeysym.size();
    if (capacity == 0)
        return false;
    // The characters the text needs next, in the order of their first use, as many as the keycodes hold.
    QList<unsigned long> wanted;
    QSet<unsigned long> wantedSet;
    for (qsizetype i = from; i < codePoints.size() && wanted.size() < capacity; ++i) {
        unsigned long keysym = NoSymbol;
        if (layoutStroke(codePoints.at(i), &keysym) || keysym == NoSymbol || wantedSet.contains(keysym))
            continue;
        wanted << keysym;
        wantedSet.insert(keysym);
    }
    // Free slots: empty ones first, then those whose character is not needed soon; a slot pressed since
    // the application last caught up is taken only when nothing else is left.
    QList<int> free;
    for (int pass = 0; pass < 3; ++pass)
        for (int slot = 0; slot < capacity; ++slot) {
            const unsigned long carried = m_slotKeysym.at(slot);
            if (wantedSet.contains(carried))
                continue;
            const bool pending = m_unconfirmed.contains(slot);
            if ((pass == 0 && !carried && !pending) || (pass == 1 && carried && !pending) ||
                (pass == 2 && pending))
                free << slot;
        }
    QList<std::pair<int, unsigned long>> changes;
    for (unsigned long keysym : std::as_const(wanted))
        if (!m_assigned.contains(keysym) && !free.isEmpty())
            changes << std::pair(free.takeFirst(), keysym);
    if (changes.isEmpty())
        return false;
    const bool reusesPending = std::any_of(changes.cbegin(), changes.cend(),
                                           [this](const auto& c) { return m_unconfirmed.contains(c.first); });
    if (reusesPending && confirmConsumed() != Confirmation::confirmed)
        return false; // typed characters stay exact; the rest is the fallback's

    QSet<unsigned int> keycodes;
    for (const auto& [slot, keysym] : std::as_const(changes)) {
        if (const unsigned long old = m_slotKeysym.at(slot))
            m_assigned.remove(old);
        m_slotKeysym[slot] = keysym;
        m_assigned.insert(keysym, slot);
        keycodes.insert(m_slotKeycodes.at(slot / m_levels));
    }
    if (!writeSlots(keycodes))
        return false;
    if (m_watcher)
        m_watcher->changeSent();
    recordOwnership();
    return true;
}

bool XTestKeyTyper::writeSlots(const QSet<unsigned int>& keycodes)
{
    if (keycodes.isEmpty() || !m_xkb)
        return false;
    // One request for the whole range: keys in between are sent back exactly as the server gave them.
    const unsigned int first = *std::min_element(keycodes.cbegin(), keycodes.cend());
    const unsigned int last = *std::max_element(keycodes.cbegin(), keycodes.cend());
    for (unsigned int keycode : keycodes) {
        const qsizetype index = m_slotKeycodes.indexOf(keycode);
        bool empty = true;
        for (int level = 0; level < m_levels; ++level)
            empty = empty && m_slotKeysym.at(index * m_levels + level) == 0;
        XkbSymMapRec& map = m_xkb->map->key_sym_map[keycode];
        if (empty) {
            XkbResizeKeySyms(m_xkb, static_cast<int>(keycode), 0);
            map.group_info = 0;
            map.width = 0;
            std::fill(std::begin(map.kt_index), std::end(map.kt_index), 0);
            continue;
        }
        KeySym* syms = XkbResizeKeySyms(m_xkb, static_cast<int>(keycode), m_levels);
        if (!syms)
            return false;
        map.group_info = XkbSetNumGroups(0, 1);
        map.width = static_cast<unsigned char>(m_levels);
        std::fill(std::begin(map.kt_index), std::end(map.kt_index), static_cast<unsigned char>(m_slotType));
        for (int level = 0; level < m_levels; ++level) {
            const unsigned long keysym = m_slotKeysym.at(index * m_levels + level);
            syms[level] = keysym ? keysym : NoSymbol;
        }
    }
    XkbMapChangesRec changes{};
    changes.changed = XkbKeySymsMask;
    changes.first_key_sym = static_cast<KeyCode>(first);
    changes.num_key_syms = static_cast<unsigned char>(last - first + 1);
    X11Connection::ErrorTrap trap(m_x->display());
    const bool sent = XkbChangeMap(m_x->display(), m_xkb, &changes);
    if (!sent || trap.failed())
        return false;
    ++lastKeymapChanges;
    ++m_totalChanges;
    return true;
}

void XTestKeyTyper::recordOwnership()
{
    // (process id, keycode) pairs of every Quenda process on this display; the server keeps them as long as
    // it keeps the keyboard map they describe.
    Display* display = m_x->display();
    const long pid = ::getpid();
    QList<unsigned long> entries;
    if (auto existing = m_x->cardinals(m_x->root(), ownershipProperty, "CARDINAL"))
        for (qsizetype i = 0; i + 1 < existing->size(); i += 2)
            if (static_cast<long>(existing->at(i)) != pid)
                entries << existing->at(i) << existing->at(i + 1);
    for (qsizetype index = 0; index < m_slotKeycodes.size(); ++index)
        for (int level = 0; level < m_levels; ++level)
            if (m_slotKeysym.at(index * m_levels + level)) {
                entries << static_cast<unsigned long>(pid) << m_slotKeycodes.at(index);
                break;
            }
    const Atom property = m_x->atom(ownershipProperty);
    if (entries.isEmpty())
        XDeleteProperty(display, m_x->root(), property);
    else
        XChangeProperty(display, m_x->root(), property, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(entries.constData()),
                        static_cast<int>(entries.size()));
}

void XTestKeyTyper::restoreStaleRemaps()
{
    const auto existing = m_x->cardinals(m_x->root(), ownershipProperty, "CARDINAL");
    if (!existing || existing->isEmpty() || !loadKeyboard())
        return;
    QSet<unsigned int> stale;
    QList<unsigned long> kept;
    for (qsizetype i = 0; i + 1 < existing->size(); i += 2) {
        const long pid = static_cast<long>(existing->at(i));
        const unsigned int keycode = static_cast<unsigned int>(existing->at(i + 1));
        if (pid != ::getpid() && processAlive(pid)) {
            kept << existing->at(i) << existing->at(i + 1);
            continue;
        }
        // Only keycodes outside the layout (no key name): a new layout may have given the number a real key.
        const bool named = m_xkb->names && m_xkb->names->keys && keycode >= m_xkb->min_key_code &&
                           keycode <= m_xkb->max_key_code && m_xkb->names->keys[keycode].name[0] != 0;
        if (!named && XkbKeyNumGroups(m_xkb, keycode) > 0)
            stale.insert(keycode);
    }
    if (!stale.isEmpty()) {
        // Written as empty slots of ours for the one change that clears them all.
        for (unsigned int keycode : std::as_const(stale)) {
            if (m_slotKeycodes.contains(keycode))
                continue;
            m_slotKeycodes << keycode;
            for (int level = 0; level < m_levels; ++level)
                m_slotKeysym << 0;
        }
        writeSlots(stale);
        std::printf("[Typing] Put back %lld keycodes left remapped by an earlier run\n",
                    qlonglong(stale.size()));
        std::fflush(stdout);
    }
    const Atom property = m_x->atom(ownershipProperty);
    if (kept.isEmpty())
        XDeleteProperty(m_x->display(), m_x->root(), property);
    else
        XChangeProperty(m_x->display(), m_x->root(), property, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(kept.constData()),
                        static_cast<int>(kept.size()));
    XSync(m_x->display(), False);
}

bool XTestKeyTyper::typeText(const QString& text)
{
    return typeCharacters(text) == Outcome::typed;
}

KeyboardSynthesizer::Outcome XTestKeyTyper::typeCharacters(const QString& text)
{
    if (!ensureConnection())
        return Outcome::noEventSource;
    ++m_restoreGeneration;
    if (m_restoreTimer)
        m_restoreTimer->stop();
    lastKeymapChanges = 0;
    lastConfirmations = 0;
    lastConfirmationWay.clear();
    Display* display = m_x->display();
    if (!loadKeyboard())
        return Outcome::noEventSource;
    releaseHeldModifiers();
    watchTarget();

    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    const bool capsLocked = state.locked_mods & LockMask;
    const unsigned int capsKey = XKeysymToKeycode(display, XK_Caps_Lock);
    if (capsLocked && capsKey) {
        XTestFakeKeyEvent(display, capsKey, True, CurrentTime);
        XTestFakeKeyEvent(display, capsKey, False, CurrentTime);
    }

    Outcome outcome = Outcome::typed;
    QList<char32_t> codePoints;
    for (char32_t codePoint : text.toUcs4())
        if (!X11Keysyms::forCodePoint(codePoint).isEmpty())
            codePoints << codePoint;
    for (qsizetype i = 0; i < codePoints.size(); ++i) {
        unsigned long keysym = NoSymbol;
        if (const auto stroke = layoutStroke(codePoints.at(i), &keysym)) {
            press(*stroke);
            continue;
        }
        if (!m_assigned.contains(keysym) && !remapFor(codePoints, i)) {
            outcome = Outcome::eventFailed;
            break;
        }
        const int slot = m_assigned.value(keysym);
        press(slotStroke(slot));
        m_unconfirmed.insert(slot);
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
    if (m_assigned.isEmpty() || !QCoreApplication::instance())
        return;
    if (!m_restoreTimer) {
        m_restoreTimer = std::make_unique<QTimer>();
        m_restoreTimer->setSingleShot(true);
        QObject::connect(m_restoreTimer.get(), &QTimer::timeout, m_restoreTimer.get(), [this] {
            if (m_unconfirmed.isEmpty()) {
                restoreKeycodes();
            } else if (beginConfirmation()) {
                ++lastConfirmations;
                tryRestore(m_restoreGeneration, 300);
            }
        });
    }
    m_restoreTimer->start(static_cast<int>(restoreDelaySeconds * 1000));
}

void XTestKeyTyper::tryRestore(quint64 generation, int attemptsLeft)
{
    // Polled from the event loop: the application may be busy for a while with a long text.
    if (generation != m_restoreGeneration)
        return;
    if (confirmationArrived()) {
        m_unconfirmed.clear();
        restoreKeycodes();
        return;
    }
    if (attemptsLeft > 0)
        QTimer::singleShot(10, m_restoreTimer.get(),
                           [this, generation, attemptsLeft] { tryRestore(generation, attemptsLeft - 1); });
    // Never shown to have caught up: the keycodes keep their characters until the next typing or start.
}

void XTestKeyTyper::restoreKeycodes()
{
    if (!m_x || m_assigned.isEmpty() || !loadKeyboard())
        return;
    QSet<unsigned int> keycodes;
    for (qsizetype slot = 0; slot < m_slotKeysym.size(); ++slot)
        if (m_slotKeysym.at(slot)) {
            keycodes.insert(m_slotKeycodes.at(slot / m_levels));
            m_slotKeysym[slot] = 0;
        }
    m_assigned.clear();
    m_unconfirmed.clear();
    writeSlots(keycodes);
    recordOwnership();
    XSync(m_x->display(), False);
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
