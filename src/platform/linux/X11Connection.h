#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

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

    // Runs the X calls in between with errors caught; true when none happened.
    class ErrorTrap {
    public:
        explicit ErrorTrap(Display* display);
        ~ErrorTrap();
        bool failed();

    private:
        Display* m_display;
        int (*m_previous)(Display*, void*);
    };

private:
    explicit X11Connection(Display* display);
    Display* m_display;
};

} // namespace quenda
