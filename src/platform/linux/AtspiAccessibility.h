#pragma once

#include "platform/AccessibilityService.h"

#include <QString>

typedef struct _AtspiAccessible AtspiAccessible;

namespace quenda {

// An AT-SPI object, with one reference held for the element's lifetime. Qt applications count text
// offsets in UTF-16 units, GTK ones in characters (code points); the element knows which.
class AtspiElement final : public AccessibleElement {
public:
    AtspiElement(AtspiAccessible* adopted, bool countsUtf16);
    ~AtspiElement() override;
    AtspiElement(const AtspiElement&) = delete;
    AtspiElement& operator=(const AtspiElement&) = delete;

    AtspiAccessible* object() const { return m_object; }
    bool countsUtf16() const { return m_countsUtf16; }

private:
    AtspiAccessible* m_object;
    bool m_countsUtf16;
};

// Other applications' interface through the AT-SPI bus (libatspi).
class AtspiAccessibility final : public AccessibilityService {
public:
    AtspiAccessibility();

    // Whether the accessibility bus answers at all.
    bool isAvailable() const;

    ElementRef focusedElement(qint64 processIdentifier) override;
    ElementRef systemFocusedElement() override;
    int setSelectedText(const AccessibleElement& element, const QString& text) override;
    std::optional<QString> value(const AccessibleElement& element) override;
    SelectedRangeRead selectedTextRange(const AccessibleElement& element) override;
    int setValue(const AccessibleElement& element, const QString& text) override;
    int setSelectedTextRange(const AccessibleElement& element, TextRange range) override;
    ElementRef applicationElement(qint64 processIdentifier) override;
    ElementRef menuBar(const AccessibleElement& application) override;
    std::optional<QString> title(const AccessibleElement& element) override;
    std::optional<QList<ElementRef>> children(const AccessibleElement& element) override;
    std::optional<QList<ElementRef>> visibleChildren(const AccessibleElement& element) override;
    ElementRef shownMenu(const AccessibleElement& element) override;
    std::optional<bool> isEnabled(const AccessibleElement& element) override;
    int press(const AccessibleElement& element) override;

private:
    bool m_available = false;
};

} // namespace quenda
