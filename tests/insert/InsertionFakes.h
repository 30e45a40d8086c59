#pragma once

#include "base/Scheduler.h"
#include "platform/AccessibilityService.h"
#include "platform/AutomationHelper.h"
#include "platform/Clipboard.h"
#include "platform/KeyboardSynthesizer.h"

#include <QHash>
#include <QStringList>

namespace quenda::fakes {

// A user-interface element of the fake accessibility layer: a text field or a menu node.
struct FakeElement final : AccessibleElement {
    QString name;
    std::optional<QString> title;
    // Text field
    std::optional<QString> text;
    SelectedRangeRead selection;
    int selectedTextResult = ax::success;
    int setValueResult = ax::success;
    std::optional<TextRange> caretSet;
    // Menu node
    std::optional<QList<ElementRef>> children;
    std::optional<QList<ElementRef>> visibleChildren;
    std::optional<bool> enabled;
    int pressResult = ax::success;
    QList<ElementRef> revealedOnPress; // items that appear once the menu has been opened
    int presses = 0;
};

inline std::shared_ptr<FakeElement> makeElement(const QString& name)
{
    auto element = std::make_shared<FakeElement>();
    element->name = name;
    return element;
}

inline FakeElement& mut(const AccessibleElement& element)
{
    return const_cast<FakeElement&>(static_cast<const FakeElement&>(element));
}

class FakeAccessibility final : public AccessibilityService {
public:
    ElementRef focusedElement(qint64 pid) override { return focusedByPid.value(pid); }
    ElementRef systemFocusedElement() override { return systemFocused; }
    int setSelectedText(const AccessibleElement& element, const QString& text) override
    {
        FakeElement& e = mut(element);
        calls << QStringLiteral("setSelectedText %1").arg(e.name);
        if (e.selectedTextResult == ax::success && e.text) {
            const TextRange r = e.selection.range;
            e.text = e.text->left(r.location) + text + e.text->mid(r.location + r.length);
        }
        return e.selectedTextResult;
    }
    std::optional<QString> value(const AccessibleElement& element) override { return mut(element).text; }
    SelectedRangeRead selectedTextRange(const AccessibleElement& element) override
    {
        return mut(element).selection;
    }
    int setValue(const AccessibleElement& element, const QString& text) override
    {
        FakeElement& e = mut(element);
        calls << QStringLiteral("setValue %1").arg(e.name);
        if (e.setValueResult == ax::success)
            e.text = text;
        return e.setValueResult;
    }
    int setSelectedTextRange(const AccessibleElement& element, TextRange range) override
    {
        mut(element).caretSet = range;
        return ax::success;
    }
    ElementRef applicationElement(qint64 pid) override { return applications.value(pid); }
    ElementRef menuBar(const AccessibleElement& application) override
    {
        return menuBars.value(static_cast<const FakeElement&>(application).name);
    }
    std::optional<QString> title(const AccessibleElement& element) override { return mut(element).title; }
    std::optional<QList<ElementRef>> children(const AccessibleElement& element) override
    {
        return mut(element).children;
    }
    std::optional<QList<ElementRef>> visibleChildren(const AccessibleElement& element) override
    {
        return mut(element).visibleChildren;
    }
    ElementRef shownMenu(const AccessibleElement&) override { return {}; }
    std::optional<bool> isEnabled(const AccessibleElement& element) override { return mut(element).enabled; }
    // The application acts at once; its answer comes on a later turn of the main queue.
    void press(const AccessibleElement& element, Pressed done) override
    {
        FakeElement& e = mut(element);
        ++e.presses;
        if (!e.revealedOnPress.isEmpty())
            e.children = std::exchange(e.revealedOnPress, {});
        mainQueue->post([done = std::move(done), code = e.pressResult] { done(code); });
    }

    QHash<qint64, ElementRef> focusedByPid;
    ElementRef systemFocused;
    QHash<qint64, ElementRef> applications;
    QHash<QString, ElementRef> menuBars; // by application element name
    QStringList calls;
    Scheduler* mainQueue = nullptr;
};

class FakeKeyboard final : public KeyboardSynthesizer {
public:
    bool canPostEvents() const override { return allowed; }
    Outcome typeCharacters(const QString& text) override
    {
        slices << text.size();
        const Outcome now = slices.size() - 1 == failingSlice ? Outcome::eventFailed : outcome;
        if (now == Outcome::typed)
            typed += text;
        return now;
    }
    bool canCreateShortcut(const QString&) override { return shortcutsPossible; }
    bool postShortcut(const QString& combination) override
    {
        shortcuts << combination;
        return true;
    }
    bool allowed = true;
    bool shortcutsPossible = true;
    Outcome outcome = Outcome::typed;
    qsizetype failingSlice = -1; // this slice fails whatever the outcome
    QString typed;
    QList<qsizetype> slices;
    QStringList shortcuts;
};

class FakeClipboard final : public Clipboard {
public:
    ClipboardSnapshot save(ClipboardSelection selection = ClipboardSelection::clipboard) override
    {
        return of(selection);
    }
    void restore(const ClipboardSnapshot& snapshot,
                 ClipboardSelection selection = ClipboardSelection::clipboard) override
    {
        of(selection) = snapshot;
        ++restores;
    }
    void setText(const QString& text, ClipboardSelection selection = ClipboardSelection::clipboard) override
    {
        of(selection) = ClipboardSnapshot{{{QStringLiteral("text/plain"), text.toUtf8()}}};
    }
    ClipboardSnapshot& of(ClipboardSelection selection)
    {
        return selection == ClipboardSelection::primary ? primary : content;
    }
    ClipboardSnapshot content;
    ClipboardSnapshot primary;
    int restores = 0;
};

class FakeAutomation final : public AutomationHelper {
public:
    bool probe() override { return !error; }
    void sendKeys(const QString& combination, Sent done) override
    {
        sent << combination;
        done(error);
    }
    std::optional<QString> error = QStringLiteral("xdotool is not installed");
    QStringList sent;
};

} // namespace quenda::fakes
