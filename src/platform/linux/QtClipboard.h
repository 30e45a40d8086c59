#pragma once

#include "platform/Clipboard.h"

namespace quenda {

// The CLIPBOARD selection through QClipboard (needs a QGuiApplication on the xcb platform). Content that
// Quenda sets lives only as long as Quenda runs: X11 clipboard data belongs to its owner.
class QtClipboard final : public Clipboard {
public:
    ClipboardSnapshot save() override;
    void restore(const ClipboardSnapshot& snapshot) override;
    void setText(const QString& text) override;
};

} // namespace quenda
