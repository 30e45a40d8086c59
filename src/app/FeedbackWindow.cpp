#include "app/FeedbackWindow.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quenda {

namespace {
QLabel* caption(const QString& text)
{
    auto* label = new QLabel(text);
    label->setAccessibleName(text);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QLabel* quoted()
{
    auto* label = new QLabel;
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMargin(6);
    label->setAutoFillBackground(true);
    return label;
}

QPlainTextEdit* editor(const QString& name, int lines)
{
    auto* edit = new QPlainTextEdit;
    edit->setAccessibleName(name);
    edit->setTabChangesFocus(true);
    edit->setFixedHeight(edit->fontMetrics().lineSpacing() * lines + 12);
    return edit;
}

std::optional<QString> unlessEmpty(const QString& text)
{
    return text.isEmpty() ? std::nullopt : std::optional(text);
}
} // namespace

FeedbackWindow::FeedbackWindow(Submit onSubmit, std::function<void()> onDismiss, QWidget* parent)
    : QWidget(parent)
    , m_onSubmit(std::move(onSubmit))
    , m_onDismiss(std::move(onDismiss))
    , m_form(new QWidget)
    , m_empty(new QLabel(tr("No dictation is flagged.")))
    , m_raw(quoted())
    , m_rawHeading(caption(tr("What you said (raw):")))
    , m_inserted(quoted())
    , m_correction(editor(tr("What it should have been:"), 3))
    , m_note(editor(tr("What went wrong? (optional)"), 2))
{
    setWindowTitle(tr("Feedback"));
    setAccessibleName(tr("Feedback"));
    auto* heading = new QLabel(tr("Flag Correction"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    m_raw->setAccessibleName(tr("What you said (raw):"));
    m_inserted->setAccessibleName(tr("What Quenda inserted:"));

    auto* cancel = new QPushButton(tr("Cancel"));
    cancel->setAccessibleName(tr("Cancel"));
    cancel->setShortcut(QKeySequence::Cancel);
    auto* submit = new QPushButton(tr("Submit"));
    submit->setAccessibleName(tr("Submit"));
    submit->setDefault(true);
    connect(cancel, &QPushButton::clicked, this, [this] { finish(false); });
    connect(submit, &QPushButton::clicked, this, [this] { finish(true); });

    auto* form = new QVBoxLayout(m_form);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(4);
    form->addWidget(m_rawHeading);
    form->addWidget(m_raw);
    form->addSpacing(8);
    form->addWidget(caption(tr("What Quenda inserted:")));
    form->addWidget(m_inserted);
    form->addSpacing(8);
    form->addWidget(caption(tr("What it should have been:")));
    form->addWidget(m_correction);
    form->addSpacing(8);
    form->addWidget(caption(tr("What went wrong? (optional)")));
    form->addWidget(m_note);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(submit);
    form->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addWidget(heading);
    layout->addWidget(m_empty);
    layout->addWidget(m_form);
    setFixedWidth(380);
    setDictation(std::nullopt);
}

void FeedbackWindow::setDictation(const std::optional<DictationResult>& dictation)
{
    m_empty->setVisible(!dictation);
    m_form->setVisible(dictation.has_value());
    if (!dictation)
        return;
    const bool hasRaw = dictation->rawTranscript.has_value();
    m_rawHeading->setVisible(hasRaw);
    m_raw->setVisible(hasRaw);
    m_raw->setText(dictation->rawTranscript.value_or(QString()));
    m_inserted->setText(dictation->text);
    // The user edits what was inserted rather than typing it all again.
    m_correction->setPlainText(dictation->text);
    m_note->clear();
    m_correction->setFocus();
}

void FeedbackWindow::finish(bool submitted)
{
    m_finishing = true;
    if (submitted && !m_form->isHidden())
        m_onSubmit(unlessEmpty(m_correction->toPlainText()), unlessEmpty(m_note->toPlainText()));
    else
        m_onDismiss();
    close();
    m_finishing = false;
}

void FeedbackWindow::closeEvent(QCloseEvent* event)
{
    // Closing the window is cancelling it.
    if (!m_finishing)
        m_onDismiss();
    QWidget::closeEvent(event);
}

} // namespace quenda
