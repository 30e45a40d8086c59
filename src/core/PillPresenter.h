#pragma once

#include "core/DictationState.h"

#include <QString>

namespace quenda {

// What the floating pill shows: built afresh from the orchestrator's values at every refresh.
struct PillContent {
    DictationState state;
    QString transcript;
    float audioLevel = 0;

    bool operator==(const PillContent& other) const = default;
};

// The small floating window that shows a dictation near the pointer without ever taking focus.
class PillPresenter {
public:
    virtual ~PillPresenter() = default;

    // Sets the content, moves the pill next to the pointer and brings it to the front without activating.
    virtual void show(const PillContent& content) = 0;
    // Replaces the content only.
    virtual void refresh(const PillContent& content) = 0;
    // Fades out over the given seconds, then hides.
    virtual void fadeOutAndHide(double seconds) = 0;
};

} // namespace quenda
