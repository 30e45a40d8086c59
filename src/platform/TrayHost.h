#pragma once

#include <functional>

namespace quenda {

// The desktop's tray (notification area), which may start after Quenda or not exist at all.
class TrayHost {
public:
    virtual ~TrayHost() = default;

    // Finds out whether a tray runs now that can show Quenda's icon; `done` is called on the main thread.
    virtual void probe(std::function<void(bool available)> done) = 0;
    // Called on the main thread when a tray may have appeared.
    virtual void setAppearanceHandler(std::function<void()> handler) = 0;
};

} // namespace quenda
