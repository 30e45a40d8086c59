#include "ui/editors/DictionaryWindow.h"

#include "ui/editors/DictionaryEditorModel.h"
#include "ui/editors/EditorParts.h"
#include "ui/widgets/Style.h"
#include "ui/widgets/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace quenda {

using style::TextStyle;
using style::Tone;

DictionaryWindow::DictionaryWindow(DictionaryEditorModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_body(new QStackedLayout)
    , m_misheard(new QLineEdit)
    , m_correct(new QLineEdit)
    , m_add(style::button(tr("Add")))
{
    setWindowTitle(tr("Personal Dictionary"));
    setAccessibleName(tr("Personal Dictionary"));
    resize(400, 360);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(
        editor::header(tr("Personal Dictionary"),
                       tr("Teach Quenda words it gets wrong. Corrections are applied every time you "
                          "dictate. Recurring mistakes are added automatically.")));
    layout->addWidget(style::divider());
    m_body->addWidget(editor::emptyState(
        QStringLiteral("character.book.closed"), tr("No entries yet"),
        tr("Add words below, or just keep using Quenda — it learns from your corrections automatically.")));
    m_body->addWidget(editor::list(&m_rows));
    layout->addLayout(m_body, 1);
    layout->addWidget(style::divider());

    auto* add = new QHBoxLayout;
    add->setContentsMargins(12, 10, 12, 10);
    for (auto [field, placeholder] :
         {std::pair{m_misheard, tr("Misheard")}, std::pair{m_correct, tr("Correct")}}) {
        field->setPlaceholderText(placeholder);
        field->setAccessibleName(placeholder);
    }
    add->addWidget(m_misheard, 1);
    const QColor secondary = style::color(Tone::secondary, palette());
    add->addWidget(symbols::label(QStringLiteral("arrow.right"), secondary, 12, tr("becomes")));
    add->addWidget(m_correct, 1);
    add->addWidget(m_add);
    layout->addLayout(add);

    connect(m_misheard, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_model.setMisheard(text); });
    connect(m_correct, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_model.setCorrect(text); });
    connect(m_add, &QPushButton::clicked, this, [this] { m_model.add(); });
    connect(&m_model, &DictionaryEditorModel::entriesChanged, this, &DictionaryWindow::rebuildList);
    connect(&m_model, &DictionaryEditorModel::inputsChanged, this, &DictionaryWindow::syncInputs);
    rebuildList();
    syncInputs();
}

void DictionaryWindow::rebuildList()
{
    editor::clearRows(m_rows);
    const QColor secondary = style::color(Tone::secondary, palette());
    int at = 0;
    for (const DictionaryEntry& entry : m_model.entries()) {
        auto* row = new QWidget;
        row->setAccessibleName(tr("%1 becomes %2").arg(entry.misheard, entry.correct));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(12, 4, 8, 4);
        QLabel* misheard = style::label(entry.misheard, TextStyle::body, Tone::secondary);
        misheard->setWordWrap(false);
        QLabel* correct = style::label(entry.correct);
        correct->setWordWrap(false);
        line->addWidget(misheard);
        line->addWidget(symbols::label(QStringLiteral("arrow.right"), secondary, 11, tr("becomes")));
        line->addWidget(correct);
        line->addStretch();
        QPushButton* remove = editor::deleteButton(tr("%1 → %2").arg(entry.misheard, entry.correct));
        const QUuid id = entry.id;
        connect(remove, &QPushButton::clicked, this, [this, id] { m_model.remove(id); });
        line->addWidget(remove);
        m_rows->insertWidget(at++, row);
    }
    m_body->setCurrentIndex(m_model.entries().isEmpty() ? 0 : 1);
}

void DictionaryWindow::syncInputs()
{
    if (m_misheard->text() != m_model.misheard())
        m_misheard->setText(m_model.misheard());
    if (m_correct->text() != m_model.correct())
        m_correct->setText(m_model.correct());
    m_add->setEnabled(m_model.canAdd());
}

} // namespace quenda
