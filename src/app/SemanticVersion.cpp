#include "app/SemanticVersion.h"

#include <QRegularExpression>

namespace quenda {

namespace {
bool isNumeric(const QString& identifier)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return digits.match(identifier).hasMatch();
}

// Pre-release identifiers: numbers compare numerically and come before words, which compare in ASCII order.
std::strong_ordering compareIdentifier(const QString& a, const QString& b)
{
    const bool aNumeric = isNumeric(a);
    const bool bNumeric = isNumeric(b);
    if (aNumeric && bNumeric) {
        if (a.size() != b.size()) // no leading zeros, so the longer number is the larger
            return a.size() <=> b.size();
        return a.compare(b) <=> 0;
    }
    if (aNumeric != bNumeric)
        return aNumeric ? std::strong_ordering::less : std::strong_ordering::greater;
    return a.compare(b) <=> 0;
}
} // namespace

std::optional<SemanticVersion> SemanticVersion::parse(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^v?(0|[1-9][0-9]{0,8})(?:\.(0|[1-9][0-9]{0,8}))?(?:\.(0|[1-9][0-9]{0,8}))?)"
        R"((?:-([0-9A-Za-z-]+(?:\.[0-9A-Za-z-]+)*))?(?:\+[0-9A-Za-z-]+(?:\.[0-9A-Za-z-]+)*)?$)"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    SemanticVersion version;
    for (int i = 0; i < 3; ++i)
        version.m_numbers[i] = match.captured(i + 1).isEmpty() ? 0 : match.captured(i + 1).toInt();
    if (match.hasCaptured(4) && !match.captured(4).isEmpty()) {
        version.m_preRelease = match.captured(4).split(QLatin1Char('.'));
        for (const QString& identifier : version.m_preRelease)
            if (identifier.size() > 1 && identifier.startsWith(QLatin1Char('0')) && isNumeric(identifier))
                return std::nullopt;
    }
    return version;
}

QString SemanticVersion::toString() const
{
    QString text = QStringLiteral("%1.%2.%3").arg(major()).arg(minor()).arg(patch());
    if (!m_preRelease.isEmpty())
        text += QLatin1Char('-') + m_preRelease.join(QLatin1Char('.'));
    return text;
}

std::strong_ordering SemanticVersion::operator<=>(const SemanticVersion& other) const
{
    for (int i = 0; i < 3; ++i)
        if (m_numbers[i] != other.m_numbers[i])
            return m_numbers[i] <=> other.m_numbers[i];
    // A release outranks its pre-releases.
    if (m_preRelease.isEmpty() != other.m_preRelease.isEmpty())
        return m_preRelease.isEmpty() ? std::strong_ordering::greater : std::strong_ordering::less;
    for (qsizetype i = 0; i < std::min(m_preRelease.size(), other.m_preRelease.size()); ++i) {
        const auto order = compareIdentifier(m_preRelease[i], other.m_preRelease[i]);
        if (order != 0)
            return order;
    }
    return m_preRelease.size() <=> other.m_preRelease.size();
}

} // namespace quenda
