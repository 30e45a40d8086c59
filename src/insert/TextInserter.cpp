#include "insert/TextInserter.h"

#include "base/Scheduler.h"
#include "platform/AccessibilityService.h"
#include "platform/Workspace.h"

#include <algorithm>

namespace quenda {

TextInserter::TextInserter(const InsertionPlatform& platform)
    : m_platform(platform)
    , m_accessibilityInserter(std::make_unique<AccessibilityInserter>(platform))
    , m_clipboardInserter(std::make_unique<ClipboardInserter>(
          platform, QStringList{QStringLiteral("edit")},
          QStringList{QStringLiteral("paste"), QStringLiteral("paste and match style")}))
{}

TextInserter::~TextInserter() = default;

std::optional<InsertionTarget> TextInserter::captureInsertionTarget()
{
    return m_accessibilityInserter->captureInsertionTarget();
}

std::optional<QString> TextInserter::textBeforeCaret(const InsertionTarget& target)
{
    AccessibilityService& service = *m_platform.accessibility;
    const ElementRef element =
        target.focusedElement ? target.focusedElement : service.focusedElement(target.processIdentifier);
    if (!element)
        return std::nullopt;
    const SelectedRangeRead range = service.selectedTextRange(*element);
    if (range.problem != SelectedRangeRead::Problem::none || range.range.location < 0)
        return std::nullopt;
    const std::optional<QString> value = service.value(*element);
    if (!value)
        return std::nullopt;
    // A few code units are enough to tell the last character, even one made of a surrogate pair.
    const qsizetype caret = std::min<qsizetype>(range.range.location, value->size());
    const qsizetype from = std::max<qsizetype>(0, caret - 4);
    return value->mid(from, caret - from);
}

std::optional<InsertionMethod> TextInserter::cachedMethod(const QString& applicationKey) const
{
    const auto it = m_methodCache.constFind(applicationKey);
    return it == m_methodCache.cend() ? std::nullopt : std::optional(*it);
}

void TextInserter::schedule(double seconds, std::function<void(TextInserter&)> step)
{
    std::weak_ptr<bool> alive = m_alive;
    m_platform.mainQueue->postAfter(seconds, [this, alive, step = std::move(step)] {
        if (alive.lock())
            step(*this);
    });
}

void TextInserter::insertText(const QString& text, const std::optional<InsertionTarget>& target)
{
    if (text.isEmpty())
        return;
    QString key;
    if (target) {
        key = target->bundleID;
    } else if (auto front = m_platform.workspace->frontmostApplication()) {
        key = front->bundleIdentifier.value_or(QString());
    }
    if (key.isEmpty())
        key = QStringLiteral("unknown");
    schedule(target ? activationRetryDelay : 0.0,
             [target, text, key](TextInserter& self) { self.activateTargetThenInsert(target, text, key); });
}

bool TextInserter::isFrontmost(const InsertionTarget& target) const
{
    const auto front = m_platform.workspace->frontmostApplication();
    return front && front->processIdentifier == target.processIdentifier;
}

void TextInserter::activateTargetThenInsert(const std::optional<InsertionTarget>& target, const QString& text,
                                            const QString& key)
{
    if (!target || isFrontmost(*target)) {
        performInsertion(text, key, target);
        return;
    }
    m_platform.workspace->activate(target->processIdentifier);
    schedule(activationRetryDelay,
             [target = *target, text, key, remaining = maxActivationRetries - 1](TextInserter& self) {
                 self.waitForActivation(target, text, key, remaining);
             });
}

void TextInserter::waitForActivation(const InsertionTarget& target, const QString& text, const QString& key,
                                     int remaining)
{
    if (isFrontmost(target)) {
        performInsertion(text, key, target);
        return;
    }
    m_platform.workspace->activate(target.processIdentifier);
    // A target that never comes forward still gets the text: the methods are tried anyway.
    if (remaining < 1) {
        performInsertion(text, key, target);
        return;
    }
    schedule(activationRetryDelay, [target, text, key, remaining](TextInserter& self) {
        self.waitForActivation(target, text, key, remaining - 1);
    });
}

void TextInserter::performInsertion(const QString& text, const QString& key,
                                    const std::optional<InsertionTarget>& target)
{
    postStatus(QStringLiteral("Trying to insert into %1.").arg(key));
    const std::optional<qint64> pid =
        target ? std::optional<qint64>(target->processIdentifier) : std::optional<qint64>();
    const std::optional<InsertionMethod> cached = cachedMethod(key);
    const bool tryAccessibility = !cached || *cached == InsertionMethod::accessibility;
    const bool tryTyping = tryAccessibility || *cached == InsertionMethod::simulatedTyping;
    if (tryAccessibility && m_accessibilityInserter->insertText(text, target))
        return succeed(key, InsertionMethod::accessibility);
    if (tryAccessibility && m_accessibilityInserter->fieldWasAltered())
        return reportInsertionFailure(key);
    if (!tryTyping)
        return pasteAfterTyping(text, key, target, cached);
    std::weak_ptr<bool> alive = m_alive;
    m_clipboardInserter->typeText(text, pid,
                                  [this, alive, text, key, target, cached](bool typed, qsizetype delivered) {
                                      if (!alive.lock())
                                          return;
                                      if (typed)
                                          return succeed(key, InsertionMethod::simulatedTyping);
                                      // What was typed stays: the paste brings the rest.
                                      pasteAfterTyping(text.mid(delivered), key, target, cached);
                                  });
}

void TextInserter::succeed(const QString& key, InsertionMethod method)
{
    m_methodCache.insert(key, method);
    switch (method) {
    case InsertionMethod::accessibility:
    case InsertionMethod::simulatedTyping:
        postStatus(QStringLiteral("Inserted into %1 via %2.").arg(key, describe(method)));
        break;
    case InsertionMethod::clipboard:
        postStatus(QStringLiteral("Queued clipboard paste fallback for %1.").arg(key));
        break;
    }
}

void TextInserter::pasteAfterTyping(const QString& text, const QString& key,
                                    const std::optional<InsertionTarget>& target,
                                    const std::optional<InsertionMethod>& cached)
{
    const std::optional<qint64> pid =
        target ? std::optional<qint64>(target->processIdentifier) : std::optional<qint64>();
    if (!cached && target)
        m_platform.workspace->activate(target->processIdentifier);
    // Where the field can be read, a paste that never arrived is reported once it is known, and the
    // application is not held to the clipboard method any more.
    std::weak_ptr<bool> alive = m_alive;
    auto checked = [this, alive, key](bool arrived) {
        if (arrived || !alive.lock())
            return;
        m_methodCache.remove(key);
        reportInsertionFailure(key);
    };
    if (m_clipboardInserter->pasteText(text, pid, checked))
        return succeed(key, InsertionMethod::clipboard);
    reportInsertionFailure(key);
}

void TextInserter::reportInsertionFailure(const QString& key)
{
    QStringList reasons;
    if (const auto& reason = m_accessibilityInserter->lastFailureReason())
        reasons << *reason;
    if (const auto& reason = m_clipboardInserter->lastFailureReason())
        reasons << *reason;
    const QString joined = reasons.join(QLatin1Char(' '));
    if (joined.isEmpty())
        postStatus(
            QStringLiteral("Quenda could not insert into %1, but did not receive a specific failure reason.")
                .arg(key));
    else
        postStatus(QStringLiteral("Quenda could not insert into %1. %2").arg(key, joined));
}

void TextInserter::postStatus(const QString& line)
{
    // Never synchronous: the caller sees its lines on a later turn of the main queue, in order.
    std::weak_ptr<bool> alive = m_alive;
    m_platform.mainQueue->post([this, alive, line] {
        if (alive.lock() && m_onStatusChange)
            m_onStatusChange(line);
    });
}

} // namespace quenda
