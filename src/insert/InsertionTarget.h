#pragma once

#include "platform/AccessibleElement.h"

#include <QString>
#include <QtGlobal>

#include <memory>

namespace quenda {

// The application and focused element that were in front when a dictation started.
struct InsertionTarget {
    QString bundleID; // the application's identifier, or "unknown"
    qint64 processIdentifier = 0;
    std::shared_ptr<const AccessibleElement> focusedElement;
};

} // namespace quenda
