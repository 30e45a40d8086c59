#pragma once

#include "insert/InsertionPlatform.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/QtClipboard.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XTestKeyTyper.h"
#include "platform/linux/XdotoolAutomationHelper.h"

#include <memory>

namespace quenda {

// The Linux desktop behind the inserters: the X11 workspace, AT-SPI, XTest, the clipboard and the
// automation helper, owned together so they outlive the inserters that use them.
class LinuxInsertionServices {
public:
    // Null when no X display can be opened. `automationProgram` is the helper the paste fallback runs.
    static std::unique_ptr<LinuxInsertionServices>
    create(const QString& automationProgram = QStringLiteral("xdotool"));

    // The services as the inserters take them.
    InsertionPlatform platform(Scheduler& mainQueue, UserDefaults& defaults);

    X11Workspace& workspace() { return *m_workspace; }
    AtspiAccessibility& accessibility() { return m_accessibility; }
    XTestKeyTyper& keyboard() { return m_keyboard; }
    QtClipboard& clipboard() { return m_clipboard; }
    XdotoolAutomationHelper& automation() { return m_automation; }

private:
    LinuxInsertionServices(std::unique_ptr<X11Workspace> workspace, const QString& automationProgram);

    std::unique_ptr<X11Workspace> m_workspace;
    AtspiAccessibility m_accessibility;
    XTestKeyTyper m_keyboard;
    QtClipboard m_clipboard;
    XdotoolAutomationHelper m_automation;
};

} // namespace quenda
