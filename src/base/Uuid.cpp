#include "base/Uuid.h"

namespace quenda {

QString canonicalUuidString(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> parseCanonicalUuid(const QString& text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool hyphenSlot = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                         (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                         (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (hyphenSlot ? c != QLatin1Char('-') : !hex)
            return std::nullopt;
    }
    return QUuid::fromString(text);
}

} // namespace quenda
