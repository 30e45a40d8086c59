#pragma once

#include <QString>

#include <optional>

namespace quenda {

// The ways a dictation can get into an application, in order of preference.
enum class InsertionMethod { accessibility, simulatedTyping, clipboard };

// "Accessibility API", "Simulated Typing", "Clipboard": the raw value and the display text.
QString describe(InsertionMethod method);
// Accepts exactly the three display texts.
std::optional<InsertionMethod> insertionMethodFromString(const QString& text);

} // namespace quenda
