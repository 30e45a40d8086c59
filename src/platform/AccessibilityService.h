#pragma once

#include "platform/AccessibleElement.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

namespace quenda {

using ElementRef = std::shared_ptr<const AccessibleElement>;

// Result codes of accessibility calls. The values are the accessibility API's own error numbers, so the
// inserters describe every adapter's failures with one table.
namespace ax {
constexpr int success = 0;
constexpr int failure = -25200;
constexpr int illegalArgument = -25201;
constexpr int invalidUIElement = -25202;
constexpr int cannotComplete = -25204;
constexpr int attributeUnsupported = -25205;
constexpr int actionUnsupported = -25206;
constexpr int notImplemented = -25208;
constexpr int apiDisabled = -25211;
constexpr int noValue = -25212;
// A write the field turned into something else (a length limit, a filter) and that could not be taken
// back: the field now holds text Quenda cannot vouch for, so no other method may insert it again.
constexpr int alteredText = -25290;
} // namespace ax

// A selection or caret, in UTF-16 code units of the element's text.
struct TextRange {
    qint64 location = 0;
    qint64 length = 0;
    bool operator==(const TextRange&) const = default;
};

// Reading a selected range can fail in several distinct ways; each has its own message.
struct SelectedRangeRead {
    enum class Problem { none, unavailable, notARange, undecodable, invalid };
    Problem problem = Problem::none;
    TextRange range;
};

// Other applications' user interface as the platform's accessibility layer exposes it: focused elements,
// their text, selection and value, menus and their actions. Every call but press is synchronous.
class AccessibilityService {
public:
    virtual ~AccessibilityService() = default;

    // The element with keyboard focus in the given process; null when there is none or it cannot be asked.
    virtual ElementRef focusedElement(qint64 processIdentifier) = 0;
    // The element with keyboard focus anywhere on the desktop.
    virtual ElementRef systemFocusedElement() = 0;

    // Replaces the selection with the text, or inserts it at the caret; a result code.
    virtual int setSelectedText(const AccessibleElement& element, const QString& text) = 0;
    // The element's whole text; nothing when it has no readable text.
    virtual std::optional<QString> value(const AccessibleElement& element) = 0;
    virtual SelectedRangeRead selectedTextRange(const AccessibleElement& element) = 0;
    virtual int setValue(const AccessibleElement& element, const QString& text) = 0;
    virtual int setSelectedTextRange(const AccessibleElement& element, TextRange range) = 0;

    // The application element of a process; null when the process exposes none.
    virtual ElementRef applicationElement(qint64 processIdentifier) = 0;
    virtual ElementRef menuBar(const AccessibleElement& application) = 0;
    virtual std::optional<QString> title(const AccessibleElement& element) = 0;
    virtual std::optional<QList<ElementRef>> children(const AccessibleElement& element) = 0;
    virtual std::optional<QList<ElementRef>> visibleChildren(const AccessibleElement& element) = 0;
    virtual ElementRef shownMenu(const AccessibleElement& element) = 0;
    // Nothing when the element does not say.
    virtual std::optional<bool> isEnabled(const AccessibleElement& element) = 0;
    // Told the result code of a press, on the main thread, once, and never before press() has returned.
    using Pressed = std::function<void(int code)>;
    // Performs the element's press action. The application answers when the action is done, and a Paste
    // item first asks for the clipboard's content: the main thread stays free to serve it meanwhile.
    virtual void press(const AccessibleElement& element, Pressed done) = 0;
};

} // namespace quenda
