#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace quenda {

// One transcript: a partial or final result of the recogniser, or a finished dictation in the recent list.
// `rawTranscript` is the text as recognised before snippets and clean-up; absent when no clean-up ran.
struct DictationResult {
    QString text;
    bool isFinal = false;
    QDateTime timestamp;
    std::optional<QString> rawTranscript;

    bool operator==(const DictationResult& other) const = default;
};

} // namespace quenda
