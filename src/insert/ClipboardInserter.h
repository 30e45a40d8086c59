#pragma once

#include "insert/InsertionPlatform.h"
#include "platform/AccessibilityService.h"
#include "platform/Clipboard.h"
#include "platform/Workspace.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace quenda {

// The two fallbacks after direct accessibility insertion: typing the text as key events, and pasting it
// through the clipboard (the application's own Paste menu item, then the automation helper, then a
// synthetic paste shortcut), putting the user's clipboard back afterwards.
class ClipboardInserter final {
public:
    ClipboardInserter(const InsertionPlatform& platform, QStringList editMenuTitles,
                      QStringList pasteMenuTitles);
    ~ClipboardInserter();
    ClipboardInserter(const ClipboardInserter&) = delete;
    ClipboardInserter& operator=(const ClipboardInserter&) = delete;

    // Told, when the clipboard is put back, whether the pasted text arrived in the focused field. Only
    // called where the field's text can be read.
    using PasteChecked = std::function<void(bool arrived)>;

    // Whether every character of the text was typed and, when not, how much of it (in code units) had
    // been typed before the slice that failed: a fallback carries on from there instead of inserting the
    // beginning a second time.
    using Typed = std::function<void(bool typed, qsizetype delivered)>;
    // Types the text as key events in slices, letting the main queue run between them, so a long text
    // never holds it and a quit stops the typing between two slices. `done` is told once, on the main
    // queue or at once on a failure found before the first key; never once the inserter is gone.
    void typeText(const QString& text, std::optional<qint64> processIdentifier, Typed done);
    // True when the paste was performed or has been scheduled (the Edit menu's answer is awaited without
    // holding the main queue). A scheduled paste that turns out impossible is told to `checked` as not
    // arrived, with the clipboard put back at once.
    bool pasteText(const QString& text, std::optional<qint64> processIdentifier, PasteChecked checked = {});
    // Whether a restore of the user's clipboard is still to come.
    bool isRestorePending() const { return m_pendingRestore.has_value(); }

    const std::optional<QString>& lastFailureReason() const { return m_lastFailureReason; }
    const QStringList& editMenuTitles() const { return m_editMenuTitles; }
    const QStringList& pasteMenuTitles() const { return m_pasteMenuTitles; }

    // The keys that paste in an application. Terminals take Ctrl+Shift+V, since Ctrl+V means something
    // else to the program running inside them; xterm binds neither and pastes the PRIMARY selection with
    // Shift+Insert.
    struct PasteKeys {
        QString combination;
        bool pastesPrimary = false;
        bool operator==(const PasteKeys&) const = default;
    };
    static PasteKeys pasteKeys(const std::optional<QString>& applicationId);

    static constexpr double pasteTriggerDelayWithTarget = 0.22;
    static constexpr double pasteTriggerDelayWithoutTarget = 0.08;
    static constexpr double clipboardRestoreDelay = 1.0;
    // About a frame's worth of key events.
    static constexpr qsizetype typingSliceLength = 64;

private:
    // What the user had on the clipboards a paste overwrites.
    struct SavedClipboards {
        ClipboardSnapshot clipboard;
        std::optional<ClipboardSnapshot> primary;
    };
    // The focused field's text before a paste, to tell afterwards whether the paste arrived.
    struct PasteCheck {
        ElementRef field;
        QString before;
        QString text;
        PasteChecked checked;
    };

    // A paste's state from one way to the next, while an answer is awaited.
    struct PasteAttempt {
        SavedClipboards state;
        std::optional<PasteCheck> check;
        PasteChecked checked;
        PasteKeys keys;
        std::optional<qint64> processIdentifier;
    };
    using MenuPasted = std::function<void(bool pasted)>;

    std::optional<RunningApplication> resolveApplication(std::optional<qint64> processIdentifier) const;
    std::optional<PasteCheck> preparePasteCheck(const QString& text, std::optional<qint64> processIdentifier,
                                                PasteChecked checked);
    void finishPasteCheck(const PasteCheck& check);
    void scheduleClipboardRestore(const SavedClipboards& state, std::optional<PasteCheck> check);
    void restoreNow(const SavedClipboards& state);
    // False when the menu way failed before anything was pressed; otherwise a press is out and `done` is
    // told how it went.
    bool pasteViaMenu(std::optional<qint64> processIdentifier, const MenuPasted& done);
    bool pressPaste(const ElementRef& paste, const MenuPasted& done);
    ElementRef findPaste(const ElementRef& edit, const ElementRef& menuBar);
    // The ways after the menu: the automation helper, then the synthetic shortcut.
    bool pasteWithoutMenu(const PasteAttempt& attempt);
    void typeSlice(const QString& text, qsizetype from, const Typed& done);
    std::optional<RunningApplication> automationTarget(std::optional<qint64> processIdentifier);
    void noteAutomationOutcome(const RunningApplication& application, const std::optional<QString>& error);
    bool pasteWithShortcut(const PasteKeys& keys, const SavedClipboards& state,
                           std::optional<PasteCheck> check, double delay);
    ElementRef findMenuElement(const ElementRef& element, const QStringList& titles, int depth);
    QList<ElementRef> menuChildren(const AccessibleElement& element);

    InsertionPlatform m_platform;
    QStringList m_editMenuTitles;
    QStringList m_pasteMenuTitles;
    std::optional<QString> m_lastFailureReason;
    std::optional<SavedClipboards> m_pendingRestore;
    quint64 m_restoreGeneration = 0;
    // Delayed work holds this weakly, so nothing runs once the inserter is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace quenda
