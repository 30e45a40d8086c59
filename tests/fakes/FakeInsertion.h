#pragma once

#include "insert/TextInsertion.h"
#include "platform/KeyTyper.h"

#include <QList>
#include <QStringList>

namespace quenda::fakes {

class FakeTextInsertion final : public TextInsertion {
public:
    struct Call {
        QString text;
        std::optional<InsertionTarget> target;
    };

    void insertText(const QString& text, const std::optional<InsertionTarget>& into) override
    {
        inserted.append(Call{text, into});
    }
    void setOnStatusChange(StatusHandler) override {}
    std::optional<InsertionTarget> captureInsertionTarget() override { return target; }

    std::optional<QString> textBeforeCaret(const InsertionTarget&) override { return beforeCaret; }

    std::optional<InsertionTarget> target;
    std::optional<QString> beforeCaret; // nothing: the field cannot be read
    QList<Call> inserted;
};

// Records what would have been typed into the front application.
class FakeKeyTyper final : public KeyTyper {
public:
    bool typeText(const QString& text) override
    {
        chunks << text;
        return true;
    }
    QStringList chunks;
};

} // namespace quenda::fakes
