#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace quenda {

// A running application as the workspace reports it.
struct RunningApplication {
    std::optional<QString> bundleIdentifier; // the application id, when it has one
    qint64 processIdentifier = 0;
    QString localizedName;

    bool operator==(const RunningApplication& other) const = default;
};

// The desktop's applications: which one is in front, bringing one forward, and notices of activation.
class Workspace {
public:
    using ActivationHandler = std::function<void(const RunningApplication&)>;

    virtual ~Workspace() = default;

    virtual std::optional<RunningApplication> frontmostApplication() const = 0;
    // The running application of a process; nothing when it has no window on the desktop.
    virtual std::optional<RunningApplication> runningApplication(qint64 processIdentifier) const
    {
        auto front = frontmostApplication();
        if (front && front->processIdentifier == processIdentifier)
            return front;
        return std::nullopt;
    }
    // Unhides the application's windows and brings them all forward. False when no such application runs.
    virtual bool activate(qint64 processIdentifier) = 0;
    // Called on the main queue whenever another application becomes active.
    virtual void setActivationHandler(ActivationHandler handler) = 0;
    // This application's own identifier, to tell its windows from the user's.
    virtual std::optional<QString> ownBundleIdentifier() const = 0;
};

} // namespace quenda
