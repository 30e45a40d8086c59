#pragma once

#include "platform/AutomationHelper.h"
#include "platform/PermissionServices.h"
#include "platform/linux/X11Connection.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace quenda {

// The desktop permissions on Linux with X11:
// - accessibility: the AT-SPI bus is enabled (org.a11y.Status.IsEnabled); asking turns it on;
// - listening to keys: the X server offers XInput 2 (X11 asks no one's leave to observe);
// - posting keys: the X server offers XTEST;
// - automation: the automation helper's probe works.
class LinuxPermissionServices final : public PermissionServices {
public:
    static inline const QString helpPage = QStringLiteral("https://quenda.app/help/linux-permissions");

    explicit LinuxPermissionServices(AutomationHelper& automation);
    ~LinuxPermissionServices() override;

    // The bus's flag as last heard; each call asks again in the background (one question at a time), and
    // an answer that differs is told to the change handler.
    bool isAccessibilityTrusted() const override;
    void setOnAccessibilityChanged(std::function<void()> changed) override;
    void promptForAccessibility() override;
    bool canListenToEvents() const override;
    // Nothing to ask for on X11: every client of the display may observe the keyboard.
    void requestListenAccess() override {}
    bool canPostEvents() const override;
    void probeAutomation(std::function<void(bool succeeded)> done) override;
    bool openSettingsPane(SettingsPane pane) override;

    // The program and arguments that open the pane on the named desktop (XDG_CURRENT_DESKTOP), or an
    // empty list when that desktop has no such settings.
    static QStringList settingsCommand(const QString& desktop, SettingsPane pane);
    static QString helpAnchor(SettingsPane pane);

private:
    void refreshAccessibility() const;
    void noteAccessibility(bool enabled) const;

    AutomationHelper& m_automation;
    X11Connection m_x;
    // The answers of the bus arrive here; none is heard once the services are gone.
    std::unique_ptr<QObject> m_context;
    mutable bool m_accessibilityEnabled = false;
    mutable bool m_asking = false;
    std::function<void()> m_onAccessibilityChanged;
};

} // namespace quenda
