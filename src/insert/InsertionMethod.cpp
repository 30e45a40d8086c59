#include "insert/InsertionMethod.h"

namespace quenda {

QString describe(InsertionMethod method)
{
    switch (method) {
    case InsertionMethod::accessibility:
        return QStringLiteral("Accessibility API");
    case InsertionMethod::simulatedTyping:
        return QStringLiteral("Simulated Typing");
    case InsertionMethod::clipboard:
        break;
    }
    return QStringLiteral("Clipboard");
}

std::optional<InsertionMethod> insertionMethodFromString(const QString& text)
{
    for (auto method :
         {InsertionMethod::accessibility, InsertionMethod::simulatedTyping, InsertionMethod::clipboard})
        if (describe(method) == text)
            return method;
    return std::nullopt;
}

} // namespace quenda
