#include "platform/linux/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace quenda {

namespace {
QClipboard::Mode modeOf(ClipboardSelection selection)
{
    return selection == ClipboardSelection::primary ? QClipboard::Selection : QClipboard::Clipboard;
}
} // namespace

ClipboardSnapshot QtClipboard::save(ClipboardSelection selection)
{
    ClipboardSnapshot snapshot;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(modeOf(selection));
    if (!data)
        return snapshot;
    for (const QString& format : data->formats()) {
        // Qt's own in-process image type is rebuilt from the real image formats, and names without a slash
        // are the X selection's bookkeeping targets (TARGETS, MULTIPLE, TIMESTAMP...), not content.
        if (format == QLatin1String("application/x-qt-image") || !format.contains(QLatin1Char('/')))
            continue;
        const QByteArray bytes = data->data(format);
        if (!bytes.isNull())
            snapshot.formats.append({format, bytes});
    }
    return snapshot;
}

void QtClipboard::restore(const ClipboardSnapshot& snapshot, ClipboardSelection selection)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (snapshot.isEmpty()) {
        clipboard->clear(modeOf(selection));
        return;
    }
    auto* data = new QMimeData;
    for (const auto& [format, bytes] : snapshot.formats)
        data->setData(format, bytes);
    clipboard->setMimeData(data, modeOf(selection));
}

void QtClipboard::setText(const QString& text, ClipboardSelection selection)
{
    QGuiApplication::clipboard()->setText(text, modeOf(selection));
}

} // namespace quenda
