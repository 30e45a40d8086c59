#pragma once

#include <QString>
#include <QUuid>

namespace quenda {

// A spoken shortcut: when the trigger phrase occurs in a transcript it is replaced by the expansion.
// The trigger is stored lower-cased; the expansion exactly as entered, line breaks included.
struct Snippet {
    QUuid id;
    QString trigger;
    QString expansion;

    bool operator==(const Snippet& other) const = default;
};

} // namespace quenda
