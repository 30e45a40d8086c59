#pragma once

#include <memory>

typedef struct _XDisplay Display;

namespace quenda {

// Quenda's own connection to the X server named by DISPLAY, closed with the object.
class X11Connection {
public:
    X11Connection();
    Display* display() const { return m_display.get(); }
    bool isOpen() const { return m_display != nullptr; }

    // The extensions the desktop permissions stand for: XInput 2 to observe keys, XTEST to send them.
    bool hasXInput2(int* opcode = nullptr) const;
    bool hasXTest() const;

private:
    struct Closer {
        void operator()(Display* display) const;
    };
    std::unique_ptr<Display, Closer> m_display;
};

} // namespace quenda
