#include "insert/AccessibilityInserter.h"

#include "base/Scheduler.h"
#include "text/Graphemes.h"

#include <algorithm>

namespace quenda {

namespace {
const QString kUnknown = QStringLiteral("unknown");
constexpr double readBackPause = 0.1;
} // namespace

AccessibilityInserter::AccessibilityInserter(const InsertionPlatform& platform)
    : m_platform(platform)
    , m_ownBundleIdentifier(platform.workspace->ownBundleIdentifier())
{
    if (auto front = m_platform.workspace->frontmostApplication())
        rememberExternalApplication(*front);
    m_activations = m_platform.workspace->subscribeToActivations(
        [this](const RunningApplication& application) { rememberExternalApplication(application); });
}

AccessibilityInserter::~AccessibilityInserter() = default;

void AccessibilityInserter::rememberExternalApplication(const RunningApplication& application)
{
    if (application.bundleIdentifier == m_ownBundleIdentifier)
        return;
    m_lastExternalApplication =
        ExternalApplication{application.bundleIdentifier.value_or(kUnknown), application.processIdentifier};
}

std::optional<InsertionTarget> AccessibilityInserter::captureInsertionTarget()
{
    auto front = m_platform.workspace->frontmostApplication();
    if (front && front->bundleIdentifier != m_ownBundleIdentifier) {
        rememberExternalApplication(*front);
        return InsertionTarget{front->bundleIdentifier.value_or(kUnknown), front->processIdentifier,
                               m_platform.accessibility->focusedElement(front->processIdentifier)};
    }
    // Quenda's own window is in front (or nothing is): the user means the application they came from.
    if (!m_lastExternalApplication)
        return std::nullopt;
    return InsertionTarget{
        m_lastExternalApplication->bundleID, m_lastExternalApplication->processIdentifier,
        m_platform.accessibility->focusedElement(m_lastExternalApplication->processIdentifier)};
}

ElementRef AccessibilityInserter::resolveFocusedElement(const std::optional<InsertionTarget>& target)
{
    if (target) {
        if (auto element = m_platform.accessibility->focusedElement(target->processIdentifier))
            return element;
        if (target->focusedElement)
            return target->focusedElement;
    }
    return m_platform.accessibility->systemFocusedElement();
}

bool AccessibilityInserter::insertText(const QString& text, const std::optional<InsertionTarget>& target)
{
    m_lastFailureReason.reset();
    m_fieldAltered = false;
    if (text.isEmpty())
        return false;
    if (target)
        m_platform.workspace->activate(target->processIdentifier);

    const ElementRef element = resolveFocusedElement(target);
    if (!element) {
        m_lastFailureReason = QStringLiteral("No focused text element was found in %1.")
                                  .arg(target ? target->bundleID : QStringLiteral("the frontmost app"));
        return false;
    }
    const int code = m_platform.accessibility->setSelectedText(*element, text);
    if (code == ax::success)
        return true;
    // The field holds some of the text already: writing the value again would insert it a second time.
    if (code == ax::alteredText)
        return failAltered();
    if (replaceSelectionInValue(*element, text))
        return true;
    if (!m_lastFailureReason)
        m_lastFailureReason =
            QStringLiteral("Setting selected text failed with %1.").arg(describeAXError(code));
    return false;
}

bool AccessibilityInserter::failAltered()
{
    m_fieldAltered = true;
    m_lastFailureReason =
        QStringLiteral("The field changed the inserted text and Quenda could not take it back, so nothing "
                       "else was tried.");
    return false;
}

bool AccessibilityInserter::replaceSelectionInValue(const AccessibleElement& element, const QString& text)
{
    AccessibilityService& service = *m_platform.accessibility;
    const std::optional<QString> value = service.value(element);
    // An embedded object (a picture in a document) has no text to write back: rewriting the value would
    // drop it.
    if (!value || value->contains(QChar(0xFFFC))) {
        m_lastFailureReason = QStringLiteral("The focused element does not expose a writable text value.");
        return false;
    }
    const SelectedRangeRead read = service.selectedTextRange(element);
    switch (read.problem) {
    case SelectedRangeRead::Problem::none:
        break;
    case SelectedRangeRead::Problem::unavailable:
        m_lastFailureReason = QStringLiteral("The focused element does not expose a selected text range.");
        return false;
    case SelectedRangeRead::Problem::notARange:
        m_lastFailureReason = QStringLiteral("The selected text range could not be decoded.");
        return false;
    case SelectedRangeRead::Problem::undecodable:
    case SelectedRangeRead::Problem::invalid:
        m_lastFailureReason = QStringLiteral("The selected text range value was invalid.");
        return false;
    }
    const auto splice = spliceAtUTF16Range(*value, read.range.location, read.range.length, text);
    if (!splice) {
        m_lastFailureReason =
            QStringLiteral("Quenda could not map the current selection back into the text value.");
        return false;
    }
    const int code = service.setValue(element, splice->value);
    if (code == ax::alteredText)
        return failAltered();
    if (code != ax::success) {
        m_lastFailureReason =
            QStringLiteral("Replacing the text value failed with %1.").arg(describeAXError(code));
        return false;
    }
    // Where the caret lands is cosmetic: a failure here does not undo a successful write.
    service.setSelectedTextRange(element, TextRange{splice->caretLocation, 0});
    return true;
}

std::optional<AccessibilityInserter::Splice>
AccessibilityInserter::spliceAtUTF16Range(const QString& value, qint64 location, qint64 length,
                                          const QString& insertion)
{
    const qint64 n = value.size();
    const qint64 start = std::clamp<qint64>(location, 0, n);
    const qint64 count = std::clamp<qint64>(length, 0, n - start);
    if (!graphemes::isBoundary(value, start) || !graphemes::isBoundary(value, start + count))
        return std::nullopt;
    return Splice{value.left(start) + insertion + value.mid(start + count), start + insertion.size()};
}

void AccessibilityInserter::readFocusedValue(const std::optional<InsertionTarget>& target, ValueRead done)
{
    if (target)
        m_platform.workspace->activate(target->processIdentifier);
    // The application needs a moment to come forward; the main queue runs on meanwhile.
    std::weak_ptr<bool> alive = m_alive;
    m_platform.mainQueue->postAfter(readBackPause, [this, alive, target, done = std::move(done)] {
        if (!alive.lock())
            return;
        const ElementRef element = resolveFocusedElement(target);
        const std::optional<QString> value =
            element ? m_platform.accessibility->value(*element) : std::nullopt;
        // What is compared with the inserted text and learnt from is the text the user sees.
        done(value ? std::optional(graphemes::withoutEmbeddedMarkers(*value)) : std::nullopt);
    });
}

QString AccessibilityInserter::describeAXError(int code)
{
    switch (code) {
    case 0:
        return QStringLiteral("success");
    case -25200:
        return QStringLiteral("AX failure");
    case -25201:
        return QStringLiteral("illegal argument");
    case -25202:
        return QStringLiteral("invalid UI element");
    case -25203:
        return QStringLiteral("invalid UI element observer");
    case -25204:
        return QStringLiteral("cannot complete");
    case -25205:
        return QStringLiteral("unsupported attribute");
    case -25206:
        return QStringLiteral("unsupported action");
    case -25207:
        return QStringLiteral("unsupported notification");
    case -25208:
        return QStringLiteral("not implemented");
    case -25209:
        return QStringLiteral("notification already registered");
    case -25210:
        return QStringLiteral("notification not registered");
    case -25211:
        return QStringLiteral("Accessibility API disabled");
    case -25212:
        return QStringLiteral("no value");
    case -25213:
        return QStringLiteral("unsupported parameterized attribute");
    case -25214:
        return QStringLiteral("not enough precision");
    default:
        return QStringLiteral("AX error %1").arg(code);
    }
}

} // namespace quenda
