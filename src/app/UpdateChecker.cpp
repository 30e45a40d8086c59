#include "app/UpdateChecker.h"

#include "app/SemanticVersion.h"
#include "base/Log.h"
#include "base/UserDefaults.h"
#include "net/HttpSession.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

namespace quenda {

namespace {
constexpr int idleTimeoutMsec = 15000;
constexpr int totalTimeoutMsec = 30000;
constexpr qsizetype maxNotesLength = 20000;

bool isWebAddress(const QUrl& url)
{
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}
} // namespace

UpdateChecker::UpdateChecker(Scheduler& mainQueue, UserDefaults& defaults, QString currentVersion,
                             QUrl defaultFeedURL, QObject* parent)
    : QObject(parent)
    , m_mainQueue(mainQueue)
    , m_defaults(defaults)
    , m_currentVersion(std::move(currentVersion))
    , m_defaultFeedURL(std::move(defaultFeedURL))
    , m_session(std::make_unique<HttpSession>(HttpSession::Timeouts{idleTimeoutMsec, totalTimeoutMsec}))
{}

UpdateChecker::~UpdateChecker()
{
    m_automaticCheck.cancel();
}

QUrl UpdateChecker::feedURL() const
{
    const std::optional<QString> configured = m_defaults.stringValue(feedURLKey);
    const QUrl url =
        configured && !configured->trimmed().isEmpty() ? QUrl(configured->trimmed()) : m_defaultFeedURL;
    return isWebAddress(url) ? url : QUrl();
}

bool UpdateChecker::canCheckForUpdates() const
{
    return !m_checking && !feedURL().isEmpty();
}

void UpdateChecker::checkForUpdates()
{
    if (m_checking)
        return;
    startCheck(true);
}

void UpdateChecker::scheduleAutomaticChecks()
{
    m_automaticCheck.cancel();
    if (!m_defaults.boolForKey(automaticChecksKey) || feedURL().isEmpty())
        return;
    double wait = launchDelay;
    const std::optional<QString> last = m_defaults.stringValue(lastCheckKey);
    const QDateTime lastCheck = last ? QDateTime::fromString(*last, Qt::ISODate) : QDateTime();
    if (lastCheck.isValid()) {
        // A last check "in the future" (a clock set back) counts as now, so checks never stop.
        const double since = std::max(0.0, secondsBetween(lastCheck, m_mainQueue.now()));
        wait = std::max(launchDelay, automaticCheckInterval - since);
    }
    QPointer<UpdateChecker> self(this);
    m_automaticCheck = m_mainQueue.postAfter(wait, [self] {
        if (!self)
            return;
        if (self->m_checking || !self->m_defaults.boolForKey(automaticChecksKey))
            return self->scheduleAutomaticChecks();
        self->startCheck(false);
    });
}

void UpdateChecker::startCheck(bool manual)
{
    const QUrl url = feedURL();
    if (url.isEmpty()) {
        if (manual)
            finishCheck({UpdateCheckResult::Kind::Failed, {}, tr("No update feed is configured.")}, manual);
        return;
    }
    setChecking(true);
    log("Updates", QStringLiteral("Checking ") + url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery));
    m_defaults.setString(lastCheckKey, iso8601(m_mainQueue.now()));

    HttpRequest request;
    request.url = url;
    request.headers = {{"Accept", "application/json"}, {"User-Agent", "Quenda/" + m_currentVersion.toUtf8()}};
    QPointer<UpdateChecker> self(this);
    Scheduler* mainQueue = &m_mainQueue;
    m_session->send(std::move(request), [self, mainQueue, manual](Result<HttpResponse> reply) {
        UpdateCheckResult result;
        if (!reply.ok()) {
            result.errorMessage =
                tr("The update server could not be reached: %1").arg(reply.error().description());
        } else if (reply.value().statusCode < 200 || reply.value().statusCode > 299) {
            result.errorMessage =
                tr("The update server answered with status %1.").arg(reply.value().statusCode);
        } else if (const std::optional<ReleaseInfo> release = parseFeed(reply.value().body)) {
            result.release = *release;
            result.kind = UpdateCheckResult::Kind::UpToDate;
        } else {
            result.errorMessage = tr("The update server's answer is not a release feed.");
        }
        mainQueue->post([self, result, manual]() mutable {
            if (!self)
                return;
            if (result.kind == UpdateCheckResult::Kind::UpToDate) {
                const auto latest = SemanticVersion::parse(result.release.version);
                const auto current = SemanticVersion::parse(self->m_currentVersion);
                if (latest && current && *latest > *current)
                    result.kind = UpdateCheckResult::Kind::UpdateAvailable;
            }
            self->finishCheck(result, manual);
        });
    });
}

void UpdateChecker::finishCheck(const UpdateCheckResult& result, bool manual)
{
    switch (result.kind) {
    case UpdateCheckResult::Kind::UpdateAvailable:
        log("Updates", QStringLiteral("Version %1 is available").arg(result.release.version));
        break;
    case UpdateCheckResult::Kind::UpToDate:
        log("Updates", QStringLiteral("Up to date (%1)").arg(m_currentVersion));
        break;
    case UpdateCheckResult::Kind::Failed:
        log("Updates", QStringLiteral("Check failed: ") + result.errorMessage);
        break;
    }
    setChecking(false);
    scheduleAutomaticChecks(); // a day from this check, whichever kind it was
    Q_EMIT checkFinished(result, manual);
}

void UpdateChecker::setChecking(bool checking)
{
    const bool before = canCheckForUpdates();
    m_checking = checking;
    if (canCheckForUpdates() != before)
        Q_EMIT canCheckForUpdatesChanged(canCheckForUpdates());
}

std::optional<ReleaseInfo> UpdateChecker::parseFeed(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject feed = document.object();
    const QString version = feed.value(QLatin1String("version")).toString();
    const QUrl url(feed.value(QLatin1String("url")).toString(), QUrl::StrictMode);
    if (!SemanticVersion::parse(version) || !isWebAddress(url))
        return std::nullopt;
    const QJsonValue notes = feed.value(QLatin1String("notes"));
    if (!notes.isUndefined() && !notes.isString())
        return std::nullopt;
    return ReleaseInfo{version.trimmed(), notes.toString().left(maxNotesLength), url};
}

} // namespace quenda
