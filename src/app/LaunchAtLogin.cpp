#include "app/LaunchAtLogin.h"

#include "base/Log.h"
#include "platform/LoginItemService.h"

namespace quenda {

LaunchAtLogin::LaunchAtLogin(LoginItemService& service)
    : m_service(service)
{}

void LaunchAtLogin::enableLaunchAtLogin()
{
    if (const std::optional<QString> problem = m_service.registerApplication())
        log("Quenda", QStringLiteral("Failed to enable launch at login: ") + *problem);
}

void LaunchAtLogin::disableLaunchAtLogin()
{
    if (const std::optional<QString> problem = m_service.unregisterApplication())
        log("Quenda", QStringLiteral("Failed to disable launch at login: ") + *problem);
}

bool LaunchAtLogin::isLaunchAtLoginEnabled() const
{
    return m_service.isRegistered();
}

} // namespace quenda
