#include "core/DictationState.h"

namespace quenda {

QString DictationState::describe() const
{
    switch (m_kind) {
    case Kind::Idle:
        return QStringLiteral("idle");
    case Kind::Listening:
        return QStringLiteral("listening");
    case Kind::Processing:
        return QStringLiteral("processing");
    case Kind::Error:
        break;
    }
    return QStringLiteral("error: ") + m_message;
}

} // namespace quenda
