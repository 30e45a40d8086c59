#include "ui/feedback/FeedbackWindow.h"

#include "ui/feedback/FeedbackModel.h"
#include "ui/widgets/Style.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quenda {

namespace {

using style::TextStyle;
using style::Tone;

// A quoted text on a faint tinted panel with rounded corners.
QLabel* quoted(const QColor& tint)
{
    QLabel* label = style::label(QString(), TextStyle::caption);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMargin(6);
    QColor back = tint;
    back.setAlphaF(0.10);
    label->setStyleSheet(
        QStringLiteral("QLabel { background: %1; border-radius: 6px; }").arg(back.name(QColor::HexArgb)));
    return label;
}

QPlainTextEdit* editor(const QString& name, int height)
{
    auto* edit = new QPlainTextEdit;
    edit->setAccessibleName(name);
    edit->setTabChangesFocus(true);
    style::setTextStyle(edit, TextStyle::caption);
    edit->setFixedHeight(height);
    return edit;
}

QVBoxLayout* stack()
{
    auto* layout = new QVBoxLayout;
    layout->setSpacing(4);
    return layout;
}

} // namespace

FeedbackWindow::FeedbackWindow(FeedbackModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_form(new QWidget)
    , m_empty(style::label(
          tr("No dictation is flagged. Choose a cleaned-up dictation in the tray menu to flag it."),
          TextStyle::body, Tone::secondary))
    , m_rawHeading(style::label(tr("What you said (raw):"), TextStyle::caption, Tone::secondary))
    , m_raw(quoted(Qt::gray))
    , m_inserted(quoted(QColor(0xff, 0x95, 0x00)))
    , m_correction(editor(tr("What it should have been:"), 50))
    , m_note(editor(tr("What went wrong? (optional)"), 40))
{
    setWindowTitle(tr("Feedback"));
    setAccessibleName(tr("Feedback"));
    m_raw->setAccessibleDescription(tr("What you said (raw):"));
    m_inserted->setAccessibleDescription(tr("What Quenda inserted:"));

    auto* form = new QVBoxLayout(m_form);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(12);
    QVBoxLayout* raw = stack();
    raw->addWidget(m_rawHeading);
    raw->addWidget(m_raw);
    form->addLayout(raw);
    QVBoxLayout* inserted = stack();
    inserted->addWidget(style::label(tr("What Quenda inserted:"), TextStyle::caption, Tone::secondary));
    inserted->addWidget(m_inserted);
    form->addLayout(inserted);
    QVBoxLayout* correction = stack();
    correction->addWidget(style::label(tr("What it should have been:"), TextStyle::caption, Tone::secondary));
    correction->addWidget(m_correction);
    form->addLayout(correction);
    QVBoxLayout* note = stack();
    note->addWidget(style::label(tr("What went wrong? (optional)"), TextStyle::caption, Tone::secondary));
    note->addWidget(m_note);
    form->addLayout(note);

    QPushButton* cancel = style::button(tr("Cancel"));
    cancel->setShortcut(QKeySequence(Qt::Key_Escape));
    QPushButton* submit = style::button(tr("Submit"));
    submit->setDefault(true);
    connect(cancel, &QPushButton::clicked, this, [this] { finish(false); });
    connect(submit, &QPushButton::clicked, this, [this] { finish(true); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(submit);
    form->addLayout(buttons);
    connect(m_correction, &QPlainTextEdit::textChanged, this,
            [this] { m_model.setCorrectedText(m_correction->toPlainText()); });
    connect(m_note, &QPlainTextEdit::textChanged, this,
            [this] { m_model.setContextNote(m_note->toPlainText()); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addWidget(style::label(tr("Flag Correction"), TextStyle::headline));
    layout->addWidget(m_empty);
    layout->addWidget(m_form);
    layout->addStretch();
    setFixedWidth(380);
    connect(&m_model, &FeedbackModel::dictationChanged, this, &FeedbackWindow::sync);
    sync();
}

void FeedbackWindow::sync()
{
    const std::optional<DictationResult>& dictation = m_model.dictation();
    m_empty->setVisible(!dictation);
    m_form->setVisible(dictation.has_value());
    if (!dictation)
        return;
    const bool hasRaw = dictation->rawTranscript.has_value();
    m_rawHeading->setVisible(hasRaw);
    m_raw->setVisible(hasRaw);
    style::setText(m_raw, dictation->rawTranscript.value_or(QString()));
    style::setText(m_inserted, dictation->text);
    m_correction->setPlainText(m_model.correctedText());
    m_note->setPlainText(m_model.contextNote());
    m_correction->setFocus();
}

void FeedbackWindow::showEvent(QShowEvent* event)
{
    m_model.reload();
    QWidget::showEvent(event);
}

void FeedbackWindow::finish(bool submitted)
{
    m_finishing = true;
    if (submitted && m_model.dictation())
        m_model.submit();
    else
        m_model.dismiss();
    close();
    m_finishing = false;
}

void FeedbackWindow::closeEvent(QCloseEvent* event)
{
    // Closing the window is cancelling the flag.
    if (!m_finishing && m_model.dictation())
        m_model.dismiss();
    QWidget::closeEvent(event);
}

} // namespace quenda
