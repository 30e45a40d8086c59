#pragma once

#include <QString>

namespace quenda {

// What the dictation pipeline is doing. `error` carries the message shown to the user unchanged.
class DictationState {
public:
    enum class Kind { Error, Idle, Listening, Processing };

    DictationState() = default;
    static DictationState idle() { return DictationState(Kind::Idle, {}); }
    static DictationState listening() { return DictationState(Kind::Listening, {}); }
    static DictationState processing() { return DictationState(Kind::Processing, {}); }
    static DictationState error(QString message) { return DictationState(Kind::Error, std::move(message)); }

    Kind kind() const { return m_kind; }
    bool isIdle() const { return m_kind == Kind::Idle; }
    bool isListening() const { return m_kind == Kind::Listening; }
    bool isProcessing() const { return m_kind == Kind::Processing; }
    bool isError() const { return m_kind == Kind::Error; }
    // The error's message; empty for every other state.
    const QString& message() const { return m_message; }

    bool operator==(const DictationState& other) const = default;

    // "idle", "listening", "processing" or "error: <message>", for logs and tests.
    QString describe() const;

private:
    DictationState(Kind kind, QString message)
        : m_kind(kind)
        , m_message(std::move(message))
    {}

    Kind m_kind = Kind::Idle;
    QString m_message;
};

} // namespace quenda
