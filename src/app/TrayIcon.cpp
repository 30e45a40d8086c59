#include "app/TrayIcon.h"

#include "app/TrayMenuModel.h"
#include "base/Log.h"
#include "platform/TrayHost.h"

#include <QPainter>
#include <QSystemTrayIcon>

namespace quenda {

namespace {
QString stateIconName(const DictationState& state)
{
    switch (state.kind()) {
    case DictationState::Kind::Listening:
        return QStringLiteral("com.quenda.Quenda-listening");
    case DictationState::Kind::Processing:
        return QStringLiteral("com.quenda.Quenda-processing");
    case DictationState::Kind::Idle:
    case DictationState::Kind::Error:
        break;
    }
    return QStringLiteral("com.quenda.Quenda-idle");
}

// The warning row's small red dot.
QIcon redDot()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 59, 48));
    painter.drawEllipse(QRectF(5, 5, 6, 6));
    return QIcon(pixmap);
}

// Menu texts treat "&" as the mark of a keyboard accelerator; a dictation's own "&" must stay one.
QString literal(const QString& text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
}
} // namespace

TrayIcon::TrayIcon(TrayMenuModel& model, TrayHost& host, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_host(host)
{
    m_menu.setTitle(QStringLiteral("Quenda"));
    m_menu.setAccessibleName(QStringLiteral("Quenda"));
    connect(&m_model, &TrayMenuModel::rowsChanged, this, &TrayIcon::rebuildMenu);
    rebuildMenu();
    m_retry.setInterval(retryIntervalMsec);
    connect(&m_retry, &QTimer::timeout, this, &TrayIcon::tryToShow);
    m_host.setAppearanceHandler([this] {
        if (!isShown())
            tryToShow();
    });
}

TrayIcon::~TrayIcon() = default;

QIcon TrayIcon::iconFor(const DictationState& state)
{
    const QString name = stateIconName(state);
    return QIcon::fromTheme(name, QIcon(QStringLiteral(":/icons/%1.svg").arg(name)));
}

bool TrayIcon::isShown() const
{
    return m_tray && m_tray->isVisible();
}

void TrayIcon::start()
{
    tryToShow();
}

void TrayIcon::tryToShow()
{
    if (isShown() || m_probing)
        return;
    m_probing = true;
    QPointer<TrayIcon> self(this);
    m_host.probe([self](bool available) {
        if (!self)
            return;
        self->m_probing = false;
        if (!available) {
            if (self->m_tries == 0)
                log("QuendaApp",
                    QStringLiteral("No system tray is running yet; the icon appears as soon as one "
                                   "starts. Meanwhile the hotkey works, and `quenda open settings` "
                                   "opens the settings"));
            if (++self->m_tries == retryCount) {
                log("QuendaApp", QStringLiteral("Still no system tray after two minutes; the icon appears "
                                                "when a D-Bus tray starts"));
                self->m_retry.stop();
            } else if (!self->m_retry.isActive() && self->m_tries < retryCount) {
                self->m_retry.start();
            }
            return;
        }
        self->m_retry.stop();
        // Made only now: Qt picks its kind of tray icon when it is first made, and keeps it.
        if (!self->m_tray) {
            self->m_tray = std::make_unique<QSystemTrayIcon>(iconFor(self->m_state));
            self->m_tray->setToolTip(QStringLiteral("Quenda"));
            self->m_tray->setContextMenu(&self->m_menu);
            // A click on the icon opens the menu too, as it does on most trays.
            connect(self->m_tray.get(), &QSystemTrayIcon::activated, self,
                    [self](QSystemTrayIcon::ActivationReason reason) {
                        if (self && reason == QSystemTrayIcon::Trigger)
                            self->m_menu.popup(QCursor::pos());
                    });
        }
        self->m_tray->show();
        log("QuendaApp", QStringLiteral("Tray icon shown"));
        Q_EMIT self->shown();
    });
}

void TrayIcon::setState(const DictationState& state)
{
    if (state.kind() == m_state.kind())
        return;
    m_state = state;
    if (m_tray)
        m_tray->setIcon(iconFor(state));
}

bool TrayIcon::showMessage(const QString& title, const QString& text)
{
    if (!isShown() || !QSystemTrayIcon::supportsMessages())
        return false;
    m_tray->showMessage(title, text, iconFor(DictationState::idle()));
    return true;
}

void TrayIcon::rebuildMenu()
{
    m_menu.clear();
    for (const TrayMenuRow& row : m_model.rows()) {
        if (row.kind == TrayMenuRow::Kind::Separator) {
            m_menu.addSeparator();
            continue;
        }
        QAction* action = m_menu.addAction(literal(row.label));
        action->setEnabled(row.enabled);
        if (row.kind == TrayMenuRow::Kind::Warning)
            action->setIcon(redDot());
        else if (!row.iconName.isEmpty())
            action->setIcon(QIcon::fromTheme(row.iconName));
        if (!row.shortcut.isEmpty())
            action->setShortcut(QKeySequence(row.shortcut, QKeySequence::PortableText));
        if (row.command != TrayMenuRow::Command::None)
            connect(action, &QAction::triggered, this, [this, row] { m_model.trigger(row); });
    }
}

} // namespace quenda
