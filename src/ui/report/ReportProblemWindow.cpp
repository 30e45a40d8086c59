#include "ui/report/ReportProblemWindow.h"

#include "ui/report/ReportProblemModel.h"
#include "ui/widgets/Spinner.h"
#include "ui/widgets/Style.h"
#include "ui/widgets/Symbols.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace quenda {

using style::TextStyle;
using style::Tone;

ReportProblemWindow::ReportProblemWindow(ReportProblemModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_views(new QStackedLayout)
{
    setWindowTitle(tr("Report a Problem"));
    setAccessibleName(tr("Report a Problem"));
    m_views->addWidget(form());
    m_views->addWidget(thanks());
    setLayout(m_views);
    resize(460, 400);
    connect(&m_model, &ReportProblemModel::changed, this, &ReportProblemWindow::sync);
    sync();
}

QWidget* ReportProblemWindow::form()
{
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(10);
    layout->addWidget(style::label(tr("Report a Problem"), TextStyle::headline));
    layout->addWidget(style::label(tr("Describe what happened and we'll take a look."), TextStyle::caption,
                                   Tone::secondary));
    m_message = new QPlainTextEdit;
    m_message->setPlaceholderText(tr("What went wrong?"));
    m_message->setAccessibleName(tr("What went wrong?"));
    m_message->setTabChangesFocus(true);
    connect(m_message, &QPlainTextEdit::textChanged, this,
            [this] { m_model.setMessage(m_message->toPlainText()); });
    layout->addWidget(m_message, 1);
    layout->addWidget(style::label(tr("Diagnostics (auto-included)"), TextStyle::caption2, Tone::secondary));
    QLabel* preview =
        style::label(ReportProblemModel::diagnosticsPreview(), TextStyle::caption, Tone::secondary);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(11);
    preview->setFont(mono);
    preview->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(preview);
    m_error = style::label(QString(), TextStyle::caption, Tone::red);
    layout->addWidget(m_error);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton* cancel = style::button(tr("Cancel"));
    cancel->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    m_send = style::button(tr("Send Report"));
    m_send->setDefault(true);
    m_send->setMinimumWidth(m_send->sizeHint().width());
    m_sending = new Spinner(14, m_send);
    connect(m_send, &QPushButton::clicked, this, [this] { m_model.submit(); });
    buttons->addWidget(cancel);
    buttons->addWidget(m_send);
    layout->addLayout(buttons);
    return widget;
}

QWidget* ReportProblemWindow::thanks()
{
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->addStretch();
    layout->addWidget(symbols::label(QStringLiteral("checkmark.circle.fill"),
                                     style::color(Tone::green, palette()), 48, tr("Sent")),
                      0, Qt::AlignHCenter);
    QLabel* sent = style::label(tr("Report Sent"), TextStyle::headline);
    sent->setAlignment(Qt::AlignHCenter);
    layout->addWidget(sent);
    QLabel* thanks = style::label(tr("Thanks for the feedback — we'll look into it."), TextStyle::subheadline,
                                  Tone::secondary);
    thanks->setAlignment(Qt::AlignHCenter);
    layout->addWidget(thanks);
    layout->addSpacing(12);
    QPushButton* close = style::button(tr("Close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    layout->addWidget(close, 0, Qt::AlignHCenter);
    layout->addStretch();
    return widget;
}

void ReportProblemWindow::showEvent(QShowEvent* event)
{
    // A window shown anew starts from an empty form; one only raised again keeps what the user typed.
    if (!event->spontaneous()) {
        m_model.reset();
        m_message->clear();
        m_message->setFocus();
    }
    QWidget::showEvent(event);
}

void ReportProblemWindow::sync()
{
    m_views->setCurrentIndex(m_model.submitted() ? 1 : 0);
    m_error->setVisible(m_model.error().has_value());
    style::setText(m_error, m_model.error().value_or(QString()));
    m_send->setEnabled(m_model.canSend());
    const bool sending = m_model.isSubmitting();
    m_send->setText(sending ? QString() : tr("Send Report"));
    m_sending->setVisible(sending);
    m_sending->move((m_send->width() - m_sending->width()) / 2, (m_send->height() - m_sending->height()) / 2);
    if (m_message->toPlainText() != m_model.message())
        m_message->setPlainText(m_model.message());
}

} // namespace quenda
