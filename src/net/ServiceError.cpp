#include "net/ServiceError.h"

namespace quenda {

QString ServiceError::description() const
{
    switch (m_kind) {
    case Kind::GroqApiError:
        return QStringLiteral("Groq API error (%1): ").arg(m_statusCode) + m_message;
    case Kind::GroqInvalidResponse:
        return QStringLiteral("Invalid response from Groq API");
    case Kind::GroqParseError:
        return QStringLiteral("Could not parse Groq API response");
    case Kind::BackendServerError:
        return QStringLiteral("Server error (%1)").arg(m_statusCode);
    case Kind::BackendAuthFailed:
        return QStringLiteral("Not authenticated with Quenda backend");
    case Kind::BackendParseError:
        return QStringLiteral("Could not parse server response");
    case Kind::TimedOut:
        return QStringLiteral("The request timed out.");
    case Kind::Cancelled:
        return QStringLiteral("cancelled");
    case Kind::Transport:
    case Kind::Json:
    case Kind::Serialization:
        return m_message;
    }
    return m_message;
}

} // namespace quenda
