#pragma once

#include <QString>
#include <QStringList>

#include <compare>
#include <optional>

namespace quenda {

// A release version as "MAJOR.MINOR.PATCH[-PRERELEASE][+BUILD]" (a leading "v" and a missing minor or patch
// number are accepted). Ordered by semantic-versioning precedence: build metadata is ignored, and a
// pre-release comes before its release.
class SemanticVersion {
public:
    static std::optional<SemanticVersion> parse(const QString& text);

    int major() const { return m_numbers[0]; }
    int minor() const { return m_numbers[1]; }
    int patch() const { return m_numbers[2]; }
    const QStringList& preRelease() const { return m_preRelease; }

    // "1.2.3" or "1.2.3-beta.1".
    QString toString() const;

    std::strong_ordering operator<=>(const SemanticVersion& other) const;
    bool operator==(const SemanticVersion& other) const { return (*this <=> other) == 0; }

private:
    SemanticVersion() = default;

    int m_numbers[3] = {0, 0, 0};
    QStringList m_preRelease;
};

} // namespace quenda
