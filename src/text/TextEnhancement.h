#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace quenda {

// The outcome of a clean-up: the text, whether a model (or the speculative cache) produced it, and the
// error of a failed direct request (the caller may still insert the raw text).
struct EnhancementResult {
    QString text;
    bool wasEnhanced = false;
    std::optional<QString> error;
};

// Cleans a transcript up with a language model, streaming the pieces as they arrive.
class TextEnhancement {
public:
    using TokenHandler = std::function<void(const QString& piece)>;
    using Completion = std::function<void(const EnhancementResult&)>;

    virtual ~TextEnhancement() = default;

    // A clean-up route exists: the user is signed in to the backend or has a model key.
    virtual bool isCleanUpAvailable() const = 0;
    // Never fails: every piece goes to onToken (any thread) before `done` is called (any thread).
    virtual void enhanceText(const QString& text, const std::optional<QString>& appBundleID,
                             TokenHandler onToken, Completion done) = 0;
    // Cleans a partial transcript up ahead of time; fire and forget.
    virtual void speculativeEnhance(const QString& partialText,
                                    const std::optional<QString>& appBundleID) = 0;
    // Called as each dictation begins: the previous dictation's speculative work is forgotten.
    virtual void clearSpeculativeCache() = 0;
};

} // namespace quenda
