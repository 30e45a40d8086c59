#pragma once

#include "insert/InsertionPlatform.h"
#include "platform/AccessibilityService.h"
#include "platform/Clipboard.h"
#include "platform/Workspace.h"

#include <QString>
#include <QStringList>

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

    bool typeText(const QString& text, std::optional<qint64> processIdentifier);
    // True when the paste was performed or has been scheduled.
    bool pasteText(const QString& text, std::optional<qint64> processIdentifier);
    // Whether a restore of the user's clipboard is still to come.
    bool isRestorePending() const { return m_pendingRestore.has_value(); }

    const std::optional<QString>& lastFailureReason() const { return m_lastFailureReason; }
    const QStringList& editMenuTitles() const { return m_editMenuTitles; }
    const QStringList& pasteMenuTitles() const { return m_pasteMenuTitles; }

    // The paste shortcut for an application: terminals take Ctrl+Shift+V, since Ctrl+V means something
    // else to the program running inside them.
    static QString pasteShortcut(const std::optional<QString>& applicationId);

    static constexpr double pasteTriggerDelayWithTarget = 0.22;
    static constexpr double pasteTriggerDelayWithoutTarget = 0.08;
    static constexpr double clipboardRestoreDelay = 1.0;

private:
    std::optional<RunningApplication> resolveApplication(std::optional<qint64> processIdentifier) const;
    void scheduleClipboardRestore(const ClipboardSnapshot& state);
    void restoreNow(const ClipboardSnapshot& state);
    bool pasteViaMenu(std::optional<qint64> processIdentifier);
    bool pasteViaAutomation(std::optional<qint64> processIdentifier);
    ElementRef findMenuElement(const ElementRef& element, const QStringList& titles, int depth);
    QList<ElementRef> menuChildren(const AccessibleElement& element);

    InsertionPlatform m_platform;
    QStringList m_editMenuTitles;
    QStringList m_pasteMenuTitles;
    std::optional<QString> m_lastFailureReason;
    std::optional<ClipboardSnapshot> m_pendingRestore;
    quint64 m_restoreGeneration = 0;
    // Delayed work holds this weakly, so nothing runs once the inserter is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace quenda
