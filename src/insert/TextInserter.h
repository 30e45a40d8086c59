#pragma once

#include "insert/AccessibilityInserter.h"
#include "insert/ClipboardInserter.h"
#include "insert/InsertionMethod.h"
#include "insert/InsertionPlatform.h"
#include "insert/TextInsertion.h"

#include <QHash>

#include <memory>

namespace quenda {

// Puts one finished dictation into the application that was in front when it began: brings that
// application back, tries accessibility, typing and the clipboard in turn, remembers per application what
// worked, and reports every step as a status line.
class TextInserter final : public TextInsertion {
public:
    explicit TextInserter(const InsertionPlatform& platform);
    ~TextInserter() override;
    TextInserter(const TextInserter&) = delete;
    TextInserter& operator=(const TextInserter&) = delete;

    void insertText(const QString& text, const std::optional<InsertionTarget>& target) override;
    void setOnStatusChange(StatusHandler handler) override { m_onStatusChange = std::move(handler); }
    std::optional<InsertionTarget> captureInsertionTarget() override;
    std::optional<QString> textBeforeCaret(const InsertionTarget& target) override;

    AccessibilityInserter& accessibilityInserter() { return *m_accessibilityInserter; }
    ClipboardInserter& clipboardInserter() { return *m_clipboardInserter; }
    std::optional<InsertionMethod> cachedMethod(const QString& applicationKey) const;

    const double activationRetryDelay = 0.05;
    const int maxActivationRetries = 8;

private:
    void activateTargetThenInsert(const std::optional<InsertionTarget>& target, const QString& text,
                                  const QString& key);
    void waitForActivation(const InsertionTarget& target, const QString& text, const QString& key,
                           int remaining);
    void performInsertion(const QString& text, const QString& key,
                          const std::optional<InsertionTarget>& target);
    void pasteAfterTyping(const QString& text, const QString& key,
                          const std::optional<InsertionTarget>& target,
                          const std::optional<InsertionMethod>& cached);
    void succeed(const QString& key, InsertionMethod method);
    void reportInsertionFailure(const QString& key);
    void postStatus(const QString& line);
    bool isFrontmost(const InsertionTarget& target) const;
    void schedule(double seconds, std::function<void(TextInserter&)> step);

    InsertionPlatform m_platform;
    std::unique_ptr<AccessibilityInserter> m_accessibilityInserter;
    std::unique_ptr<ClipboardInserter> m_clipboardInserter;
    QHash<QString, InsertionMethod> m_methodCache;
    StatusHandler m_onStatusChange;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace quenda
