#include "platform/linux/LinuxInsertionServices.h"

namespace quenda {

std::unique_ptr<LinuxInsertionServices> LinuxInsertionServices::create(const QString& automationProgram)
{
    std::unique_ptr<X11Workspace> workspace = X11Workspace::create();
    if (!workspace)
        return nullptr;
    return std::unique_ptr<LinuxInsertionServices>(
        new LinuxInsertionServices(std::move(workspace), automationProgram));
}

LinuxInsertionServices::LinuxInsertionServices(std::unique_ptr<X11Workspace> workspace,
                                               const QString& automationProgram)
    : m_workspace(std::move(workspace))
    , m_automation(automationProgram)
{}

InsertionPlatform LinuxInsertionServices::platform(Scheduler& mainQueue, UserDefaults& defaults)
{
    InsertionPlatform p;
    p.mainQueue = &mainQueue;
    p.workspace = m_workspace.get();
    p.accessibility = &m_accessibility;
    p.keyboard = &m_keyboard;
    p.clipboard = &m_clipboard;
    p.automation = &m_automation;
    p.defaults = &defaults;
    return p;
}

} // namespace quenda
