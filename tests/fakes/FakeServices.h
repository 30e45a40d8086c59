#pragma once

#include "core/PillPresenter.h"
#include "core/PostPasteCapture.h"
#include "platform/MicrophoneAuthorization.h"
#include "platform/PermissionServices.h"
#include "platform/Workspace.h"
#include "training/TrainingLog.h"

#include <QList>
#include <QStringList>

namespace quenda::fakes {

class FakeTrainingLog final : public TrainingLog {
public:
    void log(const TrainingEntry& entry) override { entries.append(entry); }
    void syncIfNeeded(bool force, std::function<void()> done) override
    {
        syncs.append(force);
        if (holdSync)
            pendingSync = std::move(done);
        else
            done();
    }
    void finishSync()
    {
        if (auto done = std::exchange(pendingSync, {}))
            done();
    }

    QList<TrainingEntry> entries;
    QList<bool> syncs;
    bool holdSync = false;
    std::function<void()> pendingSync;
};

class FakePostPasteCapture final : public PostPasteCapture {
public:
    void capturePostPasteCorrection(const PostPasteRecord& record) override { captures.append(record); }
    QList<PostPasteRecord> captures;
};

// Records every call the orchestrator makes on the pill.
class FakePill final : public PillPresenter {
public:
    explicit FakePill(QStringList* journal)
        : m_journal(journal)
    {}
    void show(const PillContent& content) override { record(QStringLiteral("show"), content); }
    void refresh(const PillContent& content) override { record(QStringLiteral("refresh"), content); }
    void fadeOutAndHide(double seconds) override
    {
        m_journal->append(QStringLiteral("fade %1").arg(seconds));
    }

private:
    void record(const QString& what, const PillContent& content)
    {
        m_journal->append(what + QLatin1Char(' ') + content.state.describe());
    }
    QStringList* m_journal;
};

class FakeWorkspace final : public Workspace {
public:
    std::optional<RunningApplication> frontmostApplication() const override { return front; }
    bool activate(qint64 processIdentifier) override
    {
        activations.append(processIdentifier);
        return true;
    }
    ActivationSubscription subscribeToActivations(ActivationHandler handler) override
    {
        return notices.subscribe(std::move(handler));
    }
    void announce(const RunningApplication& application) { notices.notify(application); }
    std::optional<QString> ownBundleIdentifier() const override { return QStringLiteral("quenda"); }

    std::optional<RunningApplication> front;
    QList<qint64> activations;
    ActivationNotices notices;
};

class FakeMicrophone final : public MicrophoneAuthorization {
public:
    bool isAuthorized() const override { return authorized; }
    void requestAccess(std::function<void(bool)> done) override { done(authorized); }
    bool authorized = true;
};

class FakePermissions final : public PermissionServices {
public:
    bool isAccessibilityTrusted() const override { return accessibility; }
    void promptForAccessibility() override { calls << QStringLiteral("promptAccessibility"); }
    bool canListenToEvents() const override { return listen; }
    void requestListenAccess() override { calls << QStringLiteral("requestListen"); }
    bool canPostEvents() const override { return post; }
    void probeAutomation(std::function<void(bool)> done) override
    {
        calls << QStringLiteral("probeAutomation");
        done(false);
    }
    bool openSettingsPane(SettingsPane pane) override
    {
        calls << QStringLiteral("openSettingsPane %1").arg(int(pane));
        return true;
    }

    bool accessibility = false;
    bool listen = false;
    bool post = false;
    QStringList calls;
};

} // namespace quenda::fakes
