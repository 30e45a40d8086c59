#pragma once

#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "fakes/FakeServices.h"
#include "insert/InsertionFakes.h"
#include "insert/InsertionPlatform.h"

#include <QTemporaryDir>

namespace quenda::fakes {

// The fake desktop the inserters run against: one editor application in front.
struct InsertionRig {
    static constexpr qint64 editorPid = 4242;

    QTemporaryDir dir;
    VirtualScheduler clock;
    UserDefaults defaults{dir.filePath(QStringLiteral("Quenda.conf"))};
    FakeWorkspace workspace;
    FakeAccessibility accessibility;
    FakeKeyboard keyboard;
    FakeClipboard clipboard;
    FakeAutomation automation;

    InsertionRig()
    {
        accessibility.mainQueue = &clock;
        workspace.front =
            RunningApplication{QStringLiteral("org.example.editor"), editorPid, QStringLiteral("Editor")};
    }

    InsertionPlatform platform()
    {
        return {&clock, &workspace, &accessibility, &keyboard, &clipboard, &automation, &defaults};
    }

    // A focused text field of the editor holding `text` with the selection (location, length).
    std::shared_ptr<FakeElement> focusField(const QString& text, qint64 location, qint64 length)
    {
        auto field = makeElement(QStringLiteral("field"));
        field->text = text;
        field->selection.range = TextRange{location, length};
        accessibility.focusedByPid.insert(editorPid, field);
        return field;
    }
};

} // namespace quenda::fakes
