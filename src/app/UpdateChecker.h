#pragma once

#include "base/Scheduler.h"
#include "base/Settings.h"

#include <QObject>
#include <QUrl>

#include <memory>
#include <optional>

namespace quenda {

class HttpSession;
class UserDefaults;

// One release as the feed describes it.
struct ReleaseInfo {
    QString version;
    QString notes;
    QUrl downloadURL;
    bool operator==(const ReleaseInfo&) const = default;
};

// The outcome of one check.
struct UpdateCheckResult {
    enum class Kind { UpdateAvailable, UpToDate, Failed };
    Kind kind = Kind::Failed;
    ReleaseInfo release;  // UpdateAvailable: the newer release; UpToDate: the feed's latest
    QString errorMessage; // Failed: what went wrong, for the user
};

// Checks a release feed for a newer version: a small JSON document at a configurable address,
//   {"version": "1.4.0", "notes": "What changed…", "url": "https://…/download"}
// A manual check is possible whenever no check runs and a feed is configured. While
// "SUEnableAutomaticChecks" is true, a check also runs on its own at most once a day; the time of the last
// one is kept in the settings, so restarts do not check more often.
class UpdateChecker : public QObject {
    Q_OBJECT
public:
    static inline const QString automaticChecksKey = settings::automaticUpdateChecks.key();
    static inline const QString feedURLKey = settings::updateFeedURL.key();
    static inline const QString lastCheckKey = settings::lastUpdateCheckTime.key();
    static constexpr double automaticCheckInterval = 24 * 60 * 60;
    // A launch leaves the first automatic check a little later, out of the start-up's way.
    static constexpr double launchDelay = 30;

    // `defaultFeedURL` is used while the settings name no feed of their own (empty: none).
    UpdateChecker(Scheduler& mainQueue, UserDefaults& defaults, QString currentVersion, QUrl defaultFeedURL,
                  QObject* parent = nullptr);
    ~UpdateChecker() override;

    bool canCheckForUpdates() const;
    // The feed in use; empty when none is configured or the configured one is not an http(s) address.
    QUrl feedURL() const;
    const QString& currentVersion() const { return m_currentVersion; }

    // The menu's check: its result arrives through checkFinished with `manual` true.
    void checkForUpdates();
    // Starts (or re-plans after a settings change) the daily automatic checks.
    void scheduleAutomaticChecks();

    // The feed document's release; nothing when the document is not a feed.
    static std::optional<ReleaseInfo> parseFeed(const QByteArray& body);

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);
    void checkFinished(const quenda::UpdateCheckResult& result, bool manual);

private:
    void startCheck(bool manual);
    void finishCheck(const UpdateCheckResult& result, bool manual);
    void setChecking(bool checking);

    Scheduler& m_mainQueue;
    UserDefaults& m_defaults;
    QString m_currentVersion;
    QUrl m_defaultFeedURL;
    std::unique_ptr<HttpSession> m_session;
    bool m_checking = false;
    TaskHandle m_automaticCheck;
};

} // namespace quenda

Q_DECLARE_METATYPE(quenda::UpdateCheckResult)
