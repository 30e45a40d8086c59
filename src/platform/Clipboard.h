#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace quenda {

// Everything the clipboard held: the data of every format it offered, in the order offered.
struct ClipboardSnapshot {
    QList<std::pair<QString, QByteArray>> formats; // MIME type, bytes
    bool isEmpty() const { return formats.isEmpty(); }
    bool operator==(const ClipboardSnapshot&) const = default;
};

// Which of the desktop's clipboards: the one Copy and Paste use, or the selection some programs (X11
// terminals) paste from.
enum class ClipboardSelection { clipboard, primary };

// The system clipboard the user copies to and pastes from.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    virtual ClipboardSnapshot save(ClipboardSelection selection = ClipboardSelection::clipboard) = 0;
    // Puts the snapshot back byte for byte; an empty snapshot leaves the clipboard empty.
    virtual void restore(const ClipboardSnapshot& snapshot,
                         ClipboardSelection selection = ClipboardSelection::clipboard) = 0;
    // Replaces whatever the clipboard holds with plain text.
    virtual void setText(const QString& text,
                         ClipboardSelection selection = ClipboardSelection::clipboard) = 0;
};

} // namespace quenda
