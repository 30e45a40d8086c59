#pragma once

#include "platform/AutomationHelper.h"

namespace quenda {

// The out-of-process automation helper: xdotool, when installed, sends key combinations to the front
// window on Quenda's behalf.
class XdotoolAutomationHelper final : public AutomationHelper {
public:
    explicit XdotoolAutomationHelper(QString program = QStringLiteral("xdotool"));

    bool probe() override;
    void sendKeys(const QString& combination, Sent sent) override;

private:
    std::optional<QString> run(const QStringList& arguments);
    QString m_program;
};

} // namespace quenda
