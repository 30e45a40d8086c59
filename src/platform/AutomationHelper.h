#pragma once

#include <QString>

#include <optional>

namespace quenda {

// An out-of-process helper that can drive the desktop on Quenda's behalf (sending a paste keystroke to the
// front application). Having a working helper is the "automation" permission.
class AutomationHelper {
public:
    virtual ~AutomationHelper() = default;

    // Runs a harmless command through the helper; true when it worked. Blocking: never on the main thread.
    virtual bool probe() = 0;
    // Sends a key combination (for example "ctrl+v") to the front application through the helper.
    // Returns the failure's description, or nothing on success. Blocking.
    virtual std::optional<QString> sendKeys(const QString& combination) = 0;
};

} // namespace quenda
