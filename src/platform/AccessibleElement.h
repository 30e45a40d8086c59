#pragma once

namespace quenda {

// An element of another application's user interface (a text field, a menu item), as the accessibility
// adapter knows it. Opaque to the logic: only the adapter that made it looks inside.
class AccessibleElement {
public:
    virtual ~AccessibleElement() = default;
};

} // namespace quenda
