#pragma once

#include "net/HttpSession.h"

#include <QString>

#include <functional>
#include <optional>

namespace quenda {

// The backend's clean-up endpoint as the text enhancer uses it. Signed in means authToken() is present;
// without a token the requests answer at once with the transcript unchanged. Completions and pieces may
// arrive on any thread.
class EnhanceClient {
public:
    struct EnhanceReply {
        QString text;
        bool wasEnhanced = false;
        bool operator==(const EnhanceReply& other) const = default;
    };
    using TokenHandler = std::function<void(const QString& piece)>;
    using EnhanceCompletion = std::function<void(Result<EnhanceReply>)>;

    virtual ~EnhanceClient() = default;

    virtual std::optional<QString> authToken() const = 0;
    virtual void setAuthToken(std::optional<QString> token) = 0;
    virtual RequestHandle enhance(const QString& transcript, const std::optional<QString>& appBundleId,
                                  bool speculative, EnhanceCompletion done) = 0;
    virtual RequestHandle enhanceStreaming(const QString& transcript,
                                           const std::optional<QString>& appBundleId, TokenHandler onToken,
                                           EnhanceCompletion done) = 0;
};

} // namespace quenda
