#pragma once

#include <memory>
#include <utility>

namespace quenda {

// How a closure tells that its owner is gone. An object that hands closures to the main queue, a timer, a
// collaborator or another thread keeps a Lifetime as its last member and wraps each closure with guard():
// the wrapped closure does nothing once the owner has been destroyed. The check is made where the closure
// runs, so an owner is destroyed on the thread that runs its guarded closures (the main queue). Data that
// other threads work on is shared (std::shared_ptr) instead, so it lives as long as the work does.
class Lifetime {
public:
    Lifetime() = default;
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    // What a closure carries: true while the owner lives.
    class Witness {
    public:
        Witness() = default;
        explicit operator bool() const { return !m_token.expired(); }

    private:
        friend class Lifetime;
        explicit Witness(std::weak_ptr<const char> token)
            : m_token(std::move(token))
        {}
        std::weak_ptr<const char> m_token;
    };

    Witness witness() const { return Witness(m_token); }

    // The function, called with whatever arguments the closure gets, only while the owner lives.
    template <class F>
    auto guard(F function) const
    {
        return [witness = witness(), function = std::move(function)](auto&&... args) mutable {
            if (witness)
                function(std::forward<decltype(args)>(args)...);
        };
    }

private:
    std::shared_ptr<const char> m_token = std::make_shared<const char>('\0');
};

} // namespace quenda
