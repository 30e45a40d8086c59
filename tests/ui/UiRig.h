#pragma once

#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "capture/HotkeyManager.h"
#include "core/DictationOrchestrator.h"
#include "fakes/FakeHotkeySource.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/LogCapture.h"
#include "fakes/PipelineFakes.h"
#include "fakes/Waiting.h"
#include "net/KeychainStore.h"
#include "net/QuendaAPIClient.h"
#include "text/SnippetManager.h"
#include "training/TrainingDataLogger.h"

#include <QTemporaryDir>
#include <QThreadPool>

#include <memory>

namespace quenda::fakes {

// What the windows work with, over a scratch folder: the settings, the secret store (its file), a backend
// client pointed at a loopback server, the training log, the real hotkey manager on a fake keyboard, and a
// dictation orchestrator over fakes. The main queue runs on a virtual clock.
struct UiRig {
    LogCapture logs;
    QTemporaryDir dir;
    VirtualScheduler clock;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    KeychainStore keychain{nullptr, dir.filePath(QStringLiteral("secrets.json"))};
    FakeHttpServer server;
    std::unique_ptr<QuendaAPIClient> backend;
    TrainingDataLogger trainingLog;
    SnippetManager snippets{defaults};
    FakeHotkeySource keys;
    HotkeyManager hotkey{keys, clock, defaults};
    PipelineFakes fakes;
    FakeMicrophone& microphone = fakes.microphone;
    FakePermissions& permissions = fakes.permissions;
    FakeTrainingLog& pipelineLog = fakes.training;
    std::unique_ptr<DictationOrchestrator> orchestrator;

    UiRig()
        : backend(makeBackend(defaults, keychain, server))
        , trainingLog(dir.filePath(QStringLiteral("training-data.jsonl")), backend.get(),
                      [this] { return clock.now(); })
    {
        DictationCollaborators c = fakes.collaborators(clock, defaults, snippets);
        c.hotkeyManager = &hotkey;
        orchestrator = std::make_unique<DictationOrchestrator>(c);
    }

    static std::unique_ptr<QuendaAPIClient> makeBackend(UserDefaults& defaults, KeychainStore& keychain,
                                                        FakeHttpServer& server)
    {
        defaults.setString(QuendaAPIClient::hostKey, server.origin());
        QuendaAPIClient::Config config;
        config.timeouts = {2000, 4000};
        config.supportTimeouts = {2000, 0};
        return std::make_unique<QuendaAPIClient>(
            defaults, keychain, [] { return QList<QVariantMap>(); }, config);
    }

    // Lets background jobs finish and runs what they posted to the main queue.
    void settle()
    {
        for (int round = 0; round < 3; ++round) {
            QThreadPool::globalInstance()->waitForDone();
            trainingLog.waitForPendingWork();
            QCoreApplication::processEvents();
            clock.runUntilIdle();
        }
    }
    // Runs the main queue until the condition holds (a reply from the loopback server, say).
    bool settleUntil(const std::function<bool()>& condition)
    {
        return waitUntil(condition, 10000, [this] { clock.runUntilIdle(); });
    }
};

} // namespace quenda::fakes
