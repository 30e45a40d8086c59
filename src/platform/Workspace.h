#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace quenda {

// A running application as the workspace reports it.
struct RunningApplication {
    std::optional<QString> bundleIdentifier; // the application id, when it has one
    qint64 processIdentifier = 0;
    QString localizedName;

    bool operator==(const RunningApplication& other) const = default;
};

using ActivationHandler = std::function<void(const RunningApplication&)>;

// Keeps one subscriber to activation notices for as long as it lives (move-only).
class ActivationSubscription {
public:
    ActivationSubscription() = default;
    explicit ActivationSubscription(std::function<void()> cancel)
        : m_cancel(std::move(cancel))
    {}
    ActivationSubscription(ActivationSubscription&& other) noexcept
        : m_cancel(std::exchange(other.m_cancel, {}))
    {}
    ActivationSubscription& operator=(ActivationSubscription&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_cancel = std::exchange(other.m_cancel, {});
        }
        return *this;
    }
    ~ActivationSubscription() { reset(); }
    void reset()
    {
        if (auto cancel = std::exchange(m_cancel, {}))
            cancel();
    }

private:
    std::function<void()> m_cancel;
};

// The subscribers a workspace implementation keeps. A subscription that outlives the list cancels nothing.
class ActivationNotices {
public:
    ActivationSubscription subscribe(ActivationHandler handler)
    {
        const int id = ++m_state->nextId;
        m_state->handlers.emplace(id, std::move(handler));
        std::weak_ptr<State> state = m_state;
        return ActivationSubscription([state, id] {
            if (auto alive = state.lock())
                alive->handlers.erase(id);
        });
    }
    // Calls every subscriber in the order they subscribed; one may unsubscribe itself or others meanwhile.
    void notify(const RunningApplication& application) const
    {
        const std::map<int, ActivationHandler> handlers = m_state->handlers;
        for (const auto& [id, handler] : handlers) {
            if (m_state->handlers.count(id))
                handler(application);
        }
    }
    bool isEmpty() const { return m_state->handlers.empty(); }

private:
    struct State {
        int nextId = 0;
        std::map<int, ActivationHandler> handlers;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// The desktop's applications: which one is in front, bringing one forward, and notices of activation.
class Workspace {
public:
    using ActivationHandler = quenda::ActivationHandler;

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
    // Calls the handler on the main queue whenever another application becomes active, for as long as the
    // subscription lives. Any number of subscribers.
    [[nodiscard]] virtual ActivationSubscription subscribeToActivations(ActivationHandler handler) = 0;
    // This application's own identifier, to tell its windows from the user's.
    virtual std::optional<QString> ownBundleIdentifier() const = 0;
};

} // namespace quenda
