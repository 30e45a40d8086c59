#include "ui/widgets/HotkeyRecorderRow.h"

#include "ui/widgets/HotkeyRecorderModel.h"
#include "ui/widgets/Style.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace quenda {

HotkeyRecorderRow::HotkeyRecorderRow(HotkeyRecorderModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_hotkey(style::button(QString()))
    , m_reset(style::plainButton(tr("Reset")))
    , m_prompt(style::label(tr("Press a key…"), style::TextStyle::body, style::Tone::accent))
    , m_cancel(style::plainButton(tr("Cancel")))
    , m_caption(style::label(QString(), style::TextStyle::caption, style::Tone::secondary))
{
    auto* name = style::label(tr("Hotkey"));
    name->setWordWrap(false);
    m_prompt->setWordWrap(false);
    m_prompt->setMargin(4);
    m_prompt->setAutoFillBackground(true);
    QPalette tinted = m_prompt->palette();
    QColor accent = style::color(style::Tone::accent, tinted);
    accent.setAlphaF(0.15);
    tinted.setColor(QPalette::Window, accent);
    m_prompt->setPalette(tinted);
    m_prompt->setFocusPolicy(Qt::StrongFocus);
    m_prompt->installEventFilter(this);
    m_hotkey->setToolTip(tr("Click, then press the new hotkey"));

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(name);
    row->addStretch();
    row->addWidget(m_hotkey);
    row->addWidget(m_reset);
    row->addWidget(m_prompt);
    row->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(row);
    layout->addWidget(m_caption);

    connect(m_hotkey, &QPushButton::clicked, &m_model, &HotkeyRecorderModel::beginRecording);
    connect(m_reset, &QPushButton::clicked, &m_model, &HotkeyRecorderModel::resetHotkey);
    connect(m_cancel, &QPushButton::clicked, &m_model, &HotkeyRecorderModel::stopRecording);
    connect(&m_model, &HotkeyRecorderModel::changed, this, &HotkeyRecorderRow::sync);
    sync();
}

void HotkeyRecorderRow::sync()
{
    const bool recording = m_model.isRecording();
    const QString title = m_model.hotkeyTitle();
    m_hotkey->setText(title);
    m_hotkey->setAccessibleName(tr("Hotkey: %1").arg(title));
    m_hotkey->setVisible(!recording);
    m_reset->setVisible(!recording && m_model.canReset());
    m_prompt->setVisible(recording);
    m_cancel->setVisible(recording);
    style::setText(m_caption, m_model.caption());
    style::setTone(m_caption, m_model.showError() ? style::Tone::red : style::Tone::secondary);
    if (recording && !m_promptShown) {
        m_promptShown = true;
        m_prompt->setFocus(Qt::OtherFocusReason);
        // Recording starts once the prompt is on screen, not when the button is pressed.
        QTimer::singleShot(0, &m_model, &HotkeyRecorderModel::startRecording);
    } else if (!recording && m_promptShown) {
        m_promptShown = false;
        m_hotkey->setFocus(Qt::OtherFocusReason);
    }
}

bool HotkeyRecorderRow::eventFilter(QObject* watched, QEvent* event)
{
    // The recording observes the whole keyboard; here the keys are only kept from Quenda's own window
    // (Escape would otherwise close it, Return press its default button).
    if (watched == m_prompt && m_model.isRecording()) {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            event->accept();
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quenda
