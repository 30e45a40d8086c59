#pragma once

#include <QString>

#include <optional>

namespace quenda {

// The desktop's list of applications started when the user logs in, as far as Quenda itself is concerned.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;

    // Adds Quenda to the list; the reason when the desktop refused.
    virtual std::optional<QString> registerApplication() = 0;
    // Takes Quenda off the list; the reason when the desktop refused.
    virtual std::optional<QString> unregisterApplication() = 0;
    // Whether Quenda starts at login, read from the desktop each time.
    virtual bool isRegistered() const = 0;
};

} // namespace quenda
