#pragma once

#include <QString>
#include <QUuid>

#include <optional>

namespace quenda {

// Identifiers are stored and sent in the canonical form: 36 characters, upper-case hex, hyphenated.
QString canonicalUuidString(const QUuid& id);

// Reads exactly the canonical 36-character form (either case); braces, garbage and other lengths are
// rejected, unlike QUuid::fromString, whose null result cannot tell the nil UUID from garbage.
std::optional<QUuid> parseCanonicalUuid(const QString& text);

} // namespace quenda
