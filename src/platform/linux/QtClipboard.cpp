#include "platform/linux/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace quenda {

ClipboardSnapshot QtClipboard::save()
{
    ClipboardSnapshot snapshot;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
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

void QtClipboard::restore(const ClipboardSnapshot& snapshot)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (snapshot.isEmpty()) {
        clipboard->clear(QClipboard::Clipboard);
        return;
    }
    auto* data = new QMimeData;
    for (const auto& [format, bytes] : snapshot.formats)
        data->setData(format, bytes);
    clipboard->setMimeData(data, QClipboard::Clipboard);
}

void QtClipboard::setText(const QString& text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

} // namespace quenda
