#pragma once

#include <QList>
#include <QString>

namespace quenda {

// One row of the settings' permission list as it is drawn: a green check when granted, else the action
// button (or, for a permission with no action, a red cross), and the help shown once the action was tried
// and the permission is still missing.
struct PermissionRow {
    enum class Kind {
        microphone,
        accessibility,
        inputMonitoring,
        automation,
        syntheticTyping,
        speechRecognition
    };

    Kind kind = Kind::microphone;
    QString title;
    bool granted = false;
    QString actionLabel; // empty: the row has no button
    QString help;        // empty: nothing to add

    bool operator==(const PermissionRow&) const = default;
};

} // namespace quenda
