#pragma once

#include "platform/Clipboard.h"

namespace quenda {

// The CLIPBOARD and PRIMARY selections through QClipboard (needs a QGuiApplication on the xcb platform).
// Content that Quenda sets lives only as long as Quenda runs: X11 clipboard data belongs to its owner.
class QtClipboard final : public Clipboard {
public:
    ClipboardSnapshot save(ClipboardSelection selection = ClipboardSelection::clipboard) override;
    void restore(const ClipboardSnapshot& snapshot,
                 ClipboardSelection selection = ClipboardSelection::clipboard) override;
    void setText(const QString& text, ClipboardSelection selection = ClipboardSelection::clipboard) override;
};

} // namespace quenda
