#pragma once

#include <QString>

namespace quenda {

// The kind of application a dictation goes into, as far as its tone and its spacing care.
enum class ApplicationKind { other, slack, email, chat, codeEditor, terminal, notes, projectManagement };

// Recognises the identifiers desktop applications go by on Linux: reverse-DNS application ids
// ("org.gnome.Evolution", "org.mozilla.Thunderbird") and window classes ("Slack", "Gnome-terminal",
// "jetbrains-idea"), in any case. Matches whole name parts, so "skate" is no editor and "mailman" no mail.
ApplicationKind applicationKind(const QString& applicationId);

} // namespace quenda
