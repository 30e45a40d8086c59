#include "platform/linux/KeymapReloadWatcher.h"

#include <QElapsedTimer>

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>

#include <sys/select.h>

namespace quenda {

namespace {
// Xlib hands out client resource ids with the client number in the bits above these.
constexpr XID clientIdMask = 0x1fffff;
constexpr unsigned char xkbGetMap = 8;
constexpr unsigned char xkbSetMap = 9;
} // namespace

std::unique_ptr<KeymapReloadWatcher> KeymapReloadWatcher::start(Display* control, XID own, XID target)
{
    int major = 0, minor = 0;
    if (!XRecordQueryVersion(control, &major, &minor))
        return nullptr;
    std::unique_ptr<KeymapReloadWatcher> watcher(new KeymapReloadWatcher);
    watcher->m_control = control;
    watcher->m_ownBase = own & ~clientIdMask;
    watcher->m_targetBase = target & ~clientIdMask;
    int xkbEvent = 0, xkbError = 0;
    if (!XQueryExtension(control, "XKEYBOARD", &watcher->m_xkbOpcode, &xkbEvent, &xkbError))
        watcher->m_xkbOpcode = -1;

    XRecordRange* range = XRecordAllocRange();
    if (!range)
        return nullptr;
    range->core_requests.first = X_ChangeKeyboardMapping;
    range->core_requests.last = X_GetKeyboardMapping;
    if (watcher->m_xkbOpcode > 0) {
        range->ext_requests.ext_major.first = range->ext_requests.ext_major.last =
            static_cast<unsigned char>(watcher->m_xkbOpcode);
        range->ext_requests.ext_minor.first = xkbGetMap;
        range->ext_requests.ext_minor.last = xkbSetMap;
    }
    XRecordClientSpec clients[2] = {own, target};
    watcher->m_context = XRecordCreateContext(control, 0, clients, 2, &range, 1);
    XFree(range);
    if (!watcher->m_context)
        return nullptr;
    XSync(control, False);
    watcher->m_data = XOpenDisplay(DisplayString(control));
    if (!watcher->m_data ||
        !XRecordEnableContextAsync(watcher->m_data, watcher->m_context,
                                   reinterpret_cast<XRecordInterceptProc>(&KeymapReloadWatcher::intercept),
                                   reinterpret_cast<XPointer>(watcher.get())))
        return nullptr;
    return watcher;
}

KeymapReloadWatcher::~KeymapReloadWatcher()
{
    if (m_context) {
        XRecordDisableContext(m_control, m_context);
        XRecordFreeContext(m_control, m_context);
        XSync(m_control, False);
    }
    if (m_data)
        XCloseDisplay(m_data);
}

void KeymapReloadWatcher::intercept(char* closure, void* data)
{
    auto* self = reinterpret_cast<KeymapReloadWatcher*>(closure);
    auto* recorded = static_cast<XRecordInterceptData*>(data);
    if (recorded->category == XRecordFromClient && recorded->data && recorded->data_len > 0) {
        const unsigned char opcode = recorded->data[0];
        const unsigned char minor = recorded->data[1];
        const bool isXkb = int(opcode) == self->m_xkbOpcode;
        if (recorded->id_base == self->m_ownBase &&
            (opcode == X_ChangeKeyboardMapping || (isXkb && minor == xkbSetMap))) {
            ++self->m_changes;
            self->m_fetchedSinceChange = false;
        } else if (recorded->id_base == self->m_targetBase &&
                   (opcode == X_GetKeyboardMapping || (isXkb && minor == xkbGetMap))) {
            self->m_fetchedSinceChange = true;
        }
    }
    XRecordFreeData(recorded);
}

bool KeymapReloadWatcher::reloaded()
{
    XSync(m_control, False);
    XRecordProcessReplies(m_data);
    return m_changes >= m_sent && m_fetchedSinceChange;
}

bool KeymapReloadWatcher::waitForReload(double timeoutSeconds)
{
    // Our own change must be in the recorded stream before the question makes sense.
    XSync(m_control, False);
    QElapsedTimer timer;
    timer.start();
    const int fd = ConnectionNumber(m_data);
    for (;;) {
        XRecordProcessReplies(m_data);
        if (m_changes >= m_sent && m_fetchedSinceChange)
            return true;
        if (timer.elapsed() >= timeoutSeconds * 1000)
            return false;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval wait{0, 1000};
        select(fd + 1, &set, nullptr, nullptr, &wait);
    }
}

} // namespace quenda
