#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

namespace quenda {

class AppServices;

// `quenda` with no arguments: the tray application. One per user session (a second start hands its request
// to the running one and ends); the dictation pipeline with the floating pill, the tray icon and its menu,
// the windows by identifier, the D-Bus remote control, updates and launch at login, wired over the
// application's services, then the start-up paths.
class TrayApplication : public QObject {
    Q_OBJECT
public:
    // The argument a relaunch passes to the fresh instance, which then waits for the old one to end.
    static inline const QString relaunchedArgument = QStringLiteral("--relaunched");

    explicit TrayApplication(AppServices& services, QObject* parent = nullptr);
    ~TrayApplication() override;

    // Runs until the user quits; the process's exit status.
    int run(const QStringList& arguments);

private:
    struct Parts;
    bool build();
    void handOver();
    void addWindows(class DictationOrchestrator& orchestrator);
    void showUpdateResult(const struct UpdateCheckResult& result, bool manual);

    AppServices& m_services;
    std::unique_ptr<Parts> m_parts;
};

} // namespace quenda
