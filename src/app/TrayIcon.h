#pragma once

#include "core/DictationState.h"

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class QSystemTrayIcon;

namespace quenda {

class TrayHost;
class TrayMenuModel;

// Quenda's icon in the desktop's tray, with the menu of the tray menu model; the icon shows the dictation
// state. Where no tray runs at start (a desktop without one, or a panel that comes up after Quenda at
// login), it keeps trying for two minutes, and afterwards still appears as soon as a D-Bus tray starts. The
// hotkey and the D-Bus remote control work without it.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr int retryIntervalMsec = 2000;
    static constexpr int retryCount = 60;

    TrayIcon(TrayMenuModel& model, TrayHost& host, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Shows the icon now, or as soon as a tray exists.
    void start();
    bool isShown() const;
    void setState(const DictationState& state);
    // A notice next to the icon (when there is one); false when it could not be shown.
    bool showMessage(const QString& title, const QString& text);

    QMenu& menu() { return m_menu; }
    // The icon for a state, from the icon theme when installed, else the one built in.
    static QIcon iconFor(const DictationState& state);

Q_SIGNALS:
    void shown();

private:
    void tryToShow();
    void rebuildMenu();

    TrayMenuModel& m_model;
    TrayHost& m_host;
    QMenu m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    DictationState m_state = DictationState::idle();
    QTimer m_retry;
    int m_tries = 0;
    bool m_probing = false;
};

} // namespace quenda
