#pragma once

#include "insert/FocusedValueReader.h"
#include "insert/InsertionPlatform.h"
#include "insert/InsertionTarget.h"
#include "platform/AccessibilityService.h"
#include "platform/Workspace.h"

#include <QString>

#include <memory>
#include <optional>

namespace quenda {

// Writes text straight into the focused element of the target application, replacing its selection.
// Also follows which other application was last active, so a dictation started from one of Quenda's own
// windows still goes to the user's application, and reads a field back for the correction capture.
class AccessibilityInserter final : public FocusedValueReader {
public:
    struct ExternalApplication {
        QString bundleID;
        qint64 processIdentifier = 0;
    };

    explicit AccessibilityInserter(const InsertionPlatform& platform);
    ~AccessibilityInserter() override;
    AccessibilityInserter(const AccessibilityInserter&) = delete;
    AccessibilityInserter& operator=(const AccessibilityInserter&) = delete;

    std::optional<InsertionTarget> captureInsertionTarget();
    bool insertText(const QString& text, const std::optional<InsertionTarget>& target);
    void readFocusedValue(const std::optional<InsertionTarget>& target, ValueRead done) override;

    const std::optional<QString>& lastFailureReason() const { return m_lastFailureReason; }
    // Whether the latest insertText left the field holding a changed form of the text, so that inserting it
    // by any other method would put it there twice.
    bool fieldWasAltered() const { return m_fieldAltered; }
    const std::optional<ExternalApplication>& lastExternalApplication() const
    {
        return m_lastExternalApplication;
    }

    static QString describeAXError(int code);

    struct Splice {
        QString value;
        qint64 caretLocation = 0;
    };
    // Replaces the UTF-16 range of the value with the insertion; nothing when either end of the (clamped)
    // range falls inside a character.
    static std::optional<Splice> spliceAtUTF16Range(const QString& value, qint64 location, qint64 length,
                                                    const QString& insertion);

private:
    void rememberExternalApplication(const RunningApplication& application);
    ElementRef resolveFocusedElement(const std::optional<InsertionTarget>& target);
    bool replaceSelectionInValue(const AccessibleElement& element, const QString& text);
    bool failAltered();

    InsertionPlatform m_platform;
    std::optional<QString> m_lastFailureReason;
    bool m_fieldAltered = false;
    std::optional<QString> m_ownBundleIdentifier;
    std::optional<ExternalApplication> m_lastExternalApplication;
    ActivationSubscription m_activations;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace quenda
