#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace quenda {

// A failed request to one of the two services, as a value. The Groq and backend cases carry the Parts' fixed
// texts; transport and JSON failures carry the platform's own description, passed through unchanged.
class ServiceError {
public:
    enum class Kind {
        GroqApiError,        // Groq answered with a status other than 200 (or a stream that could not start)
        GroqInvalidResponse, // Groq's reply was not an HTTP reply
        GroqParseError,      // Groq's JSON lacks choices[0].message.content
        BackendServerError,  // the backend answered with an unexpected status (0: not HTTP)
        BackendAuthFailed,   // no token, or sign-in refused
        BackendParseError,   // the backend's JSON lacks what the call needs
        Transport,           // the connection failed or broke off
        TimedOut,            // no data within the idle limit, or the whole exchange took too long
        Cancelled,           // the caller cancelled the request
        Json,                // the body is not JSON (the parser's own error)
        Serialization,       // the request body could not be built
    };

    static ServiceError groqApi(int statusCode, QString message)
    {
        return ServiceError(Kind::GroqApiError, statusCode, std::move(message));
    }
    static ServiceError groqInvalidResponse() { return ServiceError(Kind::GroqInvalidResponse); }
    static ServiceError groqParse() { return ServiceError(Kind::GroqParseError); }
    static ServiceError backendServer(int statusCode)
    {
        return ServiceError(Kind::BackendServerError, statusCode);
    }
    static ServiceError backendAuthFailed() { return ServiceError(Kind::BackendAuthFailed); }
    static ServiceError backendParse() { return ServiceError(Kind::BackendParseError); }
    static ServiceError transport(QString description)
    {
        return ServiceError(Kind::Transport, 0, std::move(description));
    }
    static ServiceError timedOut() { return ServiceError(Kind::TimedOut); }
    static ServiceError cancelled() { return ServiceError(Kind::Cancelled); }
    static ServiceError json(QString description)
    {
        return ServiceError(Kind::Json, 0, std::move(description));
    }
    static ServiceError serialization(QString description)
    {
        return ServiceError(Kind::Serialization, 0, std::move(description));
    }

    Kind kind() const { return m_kind; }
    int statusCode() const { return m_statusCode; }
    const QString& message() const { return m_message; }

    // The user-facing text: the Parts' fixed texts for the enumerated cases, the platform's for the rest.
    QString description() const;

    bool operator==(const ServiceError& other) const = default;

private:
    explicit ServiceError(Kind kind, int statusCode = 0, QString message = {})
        : m_kind(kind)
        , m_statusCode(statusCode)
        , m_message(std::move(message))
    {}

    Kind m_kind;
    int m_statusCode = 0;
    QString m_message;
};

// A value or the error that took its place.
template <typename T>
class Result {
public:
    Result(T value)
        : m_state(std::move(value))
    {}
    Result(ServiceError error)
        : m_state(std::move(error))
    {}

    bool ok() const { return m_state.index() == 0; }
    const T& value() const { return std::get<0>(m_state); }
    T& value() { return std::get<0>(m_state); }
    const ServiceError& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, ServiceError> m_state;
};

// For calls that return nothing on success.
struct Done {
    bool operator==(const Done&) const = default;
};

} // namespace quenda
