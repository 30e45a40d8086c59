#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

typedef struct _XDisplay Display;
typedef unsigned long XID;

namespace quenda {

// One Xlib connection of Quenda's own to the display named by DISPLAY, closed with its owner. Windows of
// other clients can vanish at any moment; their errors are trapped instead of ending the process.
class X11Connection {
public:
    // Null when no display can be opened.
    static std::unique_ptr<X11Connection> open();
    // What keeps Quenda from the display named by DISPLAY ("DISPLAY is not set", "the X display \":9\"
    // cannot be opened"), or nothing when it opens.
    static std::optional<QString> displayProblem();
    // A connection held by value; isOpen() says whether the display could be opened.
    X11Connection();
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    Display* display() const { return m_display; }
    bool isOpen() const { return m_display != nullptr; }
    XID root() const;

    // The extensions the desktop permissions stand for: XInput 2 to observe keys, XTEST to send them.
    bool hasXInput2(int* opcode = nullptr) const;
    bool hasXTest() const;
    unsigned long atom(const char* name) const;

    // Property readers; nothing when the window or property is missing.
    std::optional<QList<unsigned long>> cardinals(XID window, const char* property, const char* type) const;
    std::optional<QByteArray> bytes(XID window, const char* property) const;

    // Catches the errors of the requests made on this connection while it lives, from any thread: a window
    // of another client may vanish between two requests. An error no trap expects is logged as "[X11] ...".
    class ErrorTrap {
    public:
        explicit ErrorTrap(Display* display);
        ~ErrorTrap();
        ErrorTrap(const ErrorTrap&) = delete;
        ErrorTrap& operator=(const ErrorTrap&) = delete;
        // Whether a request made since the trap was set failed (waits for the server's answers).
        bool failed();
        // The error code of the last failure, 0 when none.
        int lastErrorCode();

        bool owns(Display* display, unsigned long serial) const;
        void record(int code);

    private:
        Display* m_display;
        unsigned long m_firstRequest;
        std::atomic_int m_errors{0};
        std::atomic_int m_lastCode{0};
    };

private:
    explicit X11Connection(Display* display);
    Display* m_display;
};

} // namespace quenda
