#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace quenda {

// An out-of-process helper that can drive the desktop on Quenda's behalf (sending a paste keystroke to the
// front application). Having a working helper is the "automation" permission.
class AutomationHelper {
public:
    virtual ~AutomationHelper() = default;

    // Runs a harmless command through the helper; true when it worked. Blocking: never on the main thread.
    virtual bool probe() = 0;
    // The failure's description, or nothing on success.
    using Sent = std::function<void(const std::optional<QString>& error)>;
    // Sends a key combination (for example "ctrl+v") to the front application through the helper. Returns
    // at once; `sent` is called on the calling thread's event loop when the helper is done.
    virtual void sendKeys(const QString& combination, Sent sent) = 0;
};

} // namespace quenda
