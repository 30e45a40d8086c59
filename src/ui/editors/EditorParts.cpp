#include "ui/editors/EditorParts.h"

#include "ui/widgets/Style.h"
#include "ui/widgets/Symbols.h"

#include <QLabel>
#include <QLayoutItem>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace quenda::editor {

using style::TextStyle;
using style::Tone;

QWidget* header(const QString& title, const QString& explanation)
{
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setSpacing(4);
    layout->addWidget(style::label(title, TextStyle::headline));
    layout->addWidget(style::label(explanation, TextStyle::caption, Tone::secondary));
    return widget;
}

QWidget* emptyState(const QString& symbol, const QString& title, const QString& hint)
{
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->addStretch();
    const QColor secondary = style::color(Tone::secondary, widget->palette());
    layout->addWidget(symbols::label(symbol, secondary, 32, title), 0, Qt::AlignHCenter);
    QLabel* heading = style::label(title, TextStyle::subheadline, Tone::secondary);
    heading->setAlignment(Qt::AlignHCenter);
    layout->addWidget(heading);
    QLabel* caption = style::label(hint, TextStyle::caption, Tone::secondary);
    caption->setAlignment(Qt::AlignHCenter);
    caption->setMaximumWidth(280);
    layout->addWidget(caption, 0, Qt::AlignHCenter);
    layout->addStretch();
    return widget;
}

QScrollArea* list(QVBoxLayout** rows)
{
    auto* content = new QWidget;
    *rows = new QVBoxLayout(content);
    (*rows)->setSpacing(2);
    (*rows)->addStretch();
    auto* scroll = new QScrollArea;
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return scroll;
}

QPushButton* deleteButton(const QString& what)
{
    auto* button = new QPushButton;
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setIcon(QIcon(
        symbols::pixmap(QStringLiteral("trash"), style::color(Tone::red, button->palette()), 14, button)));
    button->setAccessibleName(QObject::tr("Delete %1").arg(what));
    button->setToolTip(button->accessibleName());
    return button;
}

void clearRows(QVBoxLayout* rows)
{
    // Every row but the closing stretch.
    while (rows->count() > 1) {
        QLayoutItem* item = rows->takeAt(0);
        // Later: the row's own delete button may be the one being clicked.
        if (QWidget* row = item->widget()) {
            row->hide();
            row->deleteLater();
        }
        delete item;
    }
}

} // namespace quenda::editor
