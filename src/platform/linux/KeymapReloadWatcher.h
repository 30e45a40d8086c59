#pragma once

#include <memory>

typedef struct _XDisplay Display;
typedef unsigned long XID;

namespace quenda {

// Tells when another client has fetched the keyboard mapping again after Quenda changed it. Clients read
// the mapping when they handle the change notice, which reaches them after every key event sent before
// it; so once the target has fetched the mapping after the last change, the keys typed before that
// change have been read with the mapping they were meant for, and the keycodes may be given new keysyms.
// Works through the RECORD extension, watching the two clients' keymap requests in server order. Used for
// applications that do not answer pings (X11Ping), such as xterm.
class KeymapReloadWatcher {
public:
    // Null when the server has no RECORD extension. `own` is a window of the connection that changes the
    // mapping, `target` one of the client that reads it.
    static std::unique_ptr<KeymapReloadWatcher> start(Display* control, XID own, XID target);
    ~KeymapReloadWatcher();
    KeymapReloadWatcher(const KeymapReloadWatcher&) = delete;
    KeymapReloadWatcher& operator=(const KeymapReloadWatcher&) = delete;

    // True once the target has fetched the mapping after the last change made by `own`; false when it did
    // not within the timeout (it may not care about the keyboard at all).
    bool waitForReload(double timeoutSeconds);
    // The same question without waiting.
    bool reloaded();
    // Call after each mapping change sent through the control connection.
    void changeSent() { ++m_sent; }

private:
    KeymapReloadWatcher() = default;
    static void intercept(char* closure, void* data);

    Display* m_control = nullptr;
    Display* m_data = nullptr;
    unsigned long m_context = 0;
    XID m_ownBase = 0;
    XID m_targetBase = 0;
    int m_xkbOpcode = -1;
    int m_sent = 0;
    int m_changes = 0;
    bool m_fetchedSinceChange = true;
};

} // namespace quenda
