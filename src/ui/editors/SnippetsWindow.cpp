#include "ui/editors/SnippetsWindow.h"

#include "ui/editors/EditorParts.h"
#include "ui/editors/SnippetsEditorModel.h"
#include "ui/widgets/Style.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QTextLayout>
#include <QVBoxLayout>

namespace quenda {

namespace {

using style::TextStyle;
using style::Tone;

// The expansion as it fits two lines of `width`, the rest elided.
QString twoLines(const QString& text, const QFont& font, int width)
{
    QString flat = text;
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QTextLayout layout(flat, font);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(width);
    QTextLine second = layout.createLine();
    layout.endLayout();
    if (!second.isValid())
        return flat;
    const QString rest = flat.mid(second.textStart());
    return flat.left(second.textStart()).trimmed() + QLatin1Char('\n') +
           QFontMetrics(font).elidedText(rest, Qt::ElideRight, width);
}

} // namespace

SnippetsWindow::SnippetsWindow(SnippetsEditorModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_body(new QStackedLayout)
    , m_trigger(new QLineEdit)
    , m_expansion(new QPlainTextEdit)
    , m_add(style::button(tr("Add Snippet")))
{
    setWindowTitle(tr("Snippets"));
    setAccessibleName(tr("Snippets"));
    resize(400, 420);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(editor::header(
        tr("Snippets"), tr("Say a trigger phrase while dictating and Quenda will expand it instantly.")));
    layout->addWidget(style::divider());
    m_body->addWidget(editor::emptyState(
        QStringLiteral("text.badge.plus"), tr("No snippets yet"),
        tr("Add phrases like \"email signature\" or \"my address\" and their full text below.")));
    m_body->addWidget(editor::list(&m_rows));
    layout->addLayout(m_body, 1);
    layout->addWidget(style::divider());

    auto* add = new QVBoxLayout;
    add->setContentsMargins(12, 10, 12, 10);
    m_trigger->setPlaceholderText(tr("Trigger phrase (e.g. \"email signature\")"));
    m_trigger->setAccessibleName(tr("Trigger phrase"));
    m_expansion->setPlaceholderText(tr("Expansion text..."));
    m_expansion->setAccessibleName(tr("Expansion text"));
    m_expansion->setTabChangesFocus(true);
    QFont small = m_expansion->font();
    small.setPixelSize(12);
    m_expansion->setFont(small);
    m_expansion->setFixedHeight(60);
    add->addWidget(m_trigger);
    add->addWidget(m_expansion);
    add->addWidget(m_add, 0, Qt::AlignRight);
    layout->addLayout(add);

    connect(m_trigger, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_model.setTrigger(text); });
    connect(m_expansion, &QPlainTextEdit::textChanged, this,
            [this] { m_model.setExpansion(m_expansion->toPlainText()); });
    connect(m_add, &QPushButton::clicked, this, [this] { m_model.add(); });
    connect(&m_model, &SnippetsEditorModel::snippetsChanged, this, &SnippetsWindow::rebuildList);
    connect(&m_model, &SnippetsEditorModel::inputsChanged, this, &SnippetsWindow::syncInputs);
    rebuildList();
    syncInputs();
}

void SnippetsWindow::rebuildList()
{
    editor::clearRows(m_rows);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(font().pointSizeF());
    int at = 0;
    for (const Snippet& snippet : m_model.snippets()) {
        auto* row = new QWidget;
        row->setAccessibleName(tr("%1 expands to %2").arg(snippet.trigger, snippet.expansion));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(12, 4, 8, 4);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        QLabel* trigger = style::label(snippet.trigger);
        trigger->setFont(mono);
        QLabel* expansion = style::label(QString(), TextStyle::caption, Tone::secondary);
        expansion->setWordWrap(false);
        style::setText(expansion, twoLines(snippet.expansion, expansion->font(), 300));
        expansion->setAccessibleName(snippet.expansion);
        texts->addWidget(trigger);
        texts->addWidget(expansion);
        line->addLayout(texts, 1);
        QPushButton* remove = editor::deleteButton(snippet.trigger);
        const QUuid id = snippet.id;
        connect(remove, &QPushButton::clicked, this, [this, id] { m_model.remove(id); });
        line->addWidget(remove, 0, Qt::AlignVCenter);
        m_rows->insertWidget(at++, row);
    }
    m_body->setCurrentIndex(m_model.snippets().isEmpty() ? 0 : 1);
}

void SnippetsWindow::syncInputs()
{
    if (m_trigger->text() != m_model.trigger())
        m_trigger->setText(m_model.trigger());
    if (m_expansion->toPlainText() != m_model.expansion())
        m_expansion->setPlainText(m_model.expansion());
    m_add->setEnabled(m_model.canAdd());
}

} // namespace quenda
