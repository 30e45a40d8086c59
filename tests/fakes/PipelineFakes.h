#pragma once

#include "core/DictationOrchestrator.h"
#include "fakes/FakeCapture.h"
#include "fakes/FakeEnhancement.h"
#include "fakes/FakeInsertion.h"
#include "fakes/FakeServices.h"

namespace quenda::fakes {

// A fake for every collaborator of the orchestrator, and the set that wires them. A test that needs a real
// part (the clean-up, the hotkey manager, the training log) puts it into the set before building.
struct PipelineFakes {
    FakeAudioCapture audio;
    FakeSpeechRecognition recognizer;
    FakeHotkeyListener hotkey;
    FakeTextInsertion inserter;
    FakeTextEnhancement enhancer;
    FakePostPasteCapture postPaste;
    FakeWorkspace workspace;
    FakeKeyTyper typer;
    FakeMicrophone microphone;
    FakePermissions permissions;
    FakeTrainingLog training;
    QStringList pillJournal;

    // The dictation goes to an editor that is also the front application.
    PipelineFakes()
    {
        inserter.target = InsertionTarget{QStringLiteral("org.example.editor"), 4242, nullptr};
        workspace.front =
            RunningApplication{QStringLiteral("org.example.editor"), 4242, QStringLiteral("Editor")};
    }

    DictationCollaborators collaborators(Scheduler& queue, UserDefaults& defaults, SnippetManager& snippets)
    {
        return {.mainQueue = &queue,
                .defaults = &defaults,
                .snippets = &snippets,
                .trainingLog = &training,
                .audioManager = &audio,
                .speechRecognizer = &recognizer,
                .hotkeyManager = &hotkey,
                .textInserter = &inserter,
                .textEnhancer = &enhancer,
                .postPasteCapture = &postPaste,
                .workspace = &workspace,
                .keyTyper = &typer,
                .microphone = &microphone,
                .permissions = &permissions,
                .makePill = [this] { return std::make_unique<FakePill>(&pillJournal); }};
    }
};

} // namespace quenda::fakes
