#pragma once

#include "net/HttpSession.h"

#include <QList>
#include <QString>

#include <functional>

namespace quenda {

// One message of a chat-completions request.
struct ChatMessage {
    QString role;
    QString content;
    bool operator==(const ChatMessage& other) const = default;
};

// A chat-completions endpoint as the text enhancer uses it: a plain request that returns the whole
// completion, and a streamed one that hands each piece on as it arrives. Completions and pieces may arrive
// on any thread.
class ChatCompletionClient {
public:
    using TextCompletion = std::function<void(Result<QString>)>;
    using TokenHandler = std::function<void(const QString& piece)>;

    virtual ~ChatCompletionClient() = default;

    // The completion's content, trimmed.
    virtual RequestHandle chatCompletion(const QList<ChatMessage>& messages, const QString& model,
                                         int maxTokens, double temperature, TextCompletion done) const = 0;
    // Each piece goes to onToken as it arrives; the result is the pieces together, trimmed.
    virtual RequestHandle streamChatCompletion(const QList<ChatMessage>& messages, const QString& model,
                                               int maxTokens, double temperature, TokenHandler onToken,
                                               TextCompletion done) const = 0;
};

} // namespace quenda
