#pragma once

#include "platform/AccessibilityService.h"
#include "platform/linux/AtspiBus.h"
#include "platform/linux/TextOffsets.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

namespace quenda {

// An object on the accessibility bus, by its application's bus name and its path.
class AtspiElement final : public AccessibleElement {
public:
    explicit AtspiElement(AtspiObject object)
        : m_object(std::move(object))
    {}
    const AtspiObject& object() const { return m_object; }

private:
    AtspiObject m_object;
};

// Other applications' interface through the AT-SPI bus. Each operation has a time budget and every call
// in it a bounded wait (see AtspiBus), so no application, busy or frozen, can hold Quenda up for longer.
// Writes are read back: an insertion the field did not take exactly as asked is taken back again, so the
// next method starts from the text the user had.
class AtspiAccessibility final : public AccessibilityService {
public:
    AtspiAccessibility();
    ~AtspiAccessibility() override;

    // Budgets of whole operations: finding the focused element, reading or writing a text.
    static constexpr int searchBudgetMsec = 3000;
    static constexpr int textBudgetMsec = 4000;
    static constexpr int pressTimeoutMsec = 3000;

    // Whether the accessibility bus answers at all.
    bool isAvailable();

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
    void press(const AccessibleElement& element, Pressed done) override;

private:
    struct TextState {
        QString text;
        TextOffsets::Unit unit = TextOffsets::Unit::unknown;
    };
    struct Search;

    AtspiBus* bus();
    std::optional<AtspiObject> applicationOf(const QDeadlineTimer& deadline, qint64 processIdentifier);
    std::optional<AtspiObject> focusedIn(Search& search, const AtspiObject& application,
                                         bool requireActiveWindow);
    std::optional<AtspiObject> findFocused(Search& search, const AtspiObject& node, int depth);
    std::optional<QList<uint>> states(const QDeadlineTimer& deadline, const AtspiObject& object);
    std::optional<uint> role(const QDeadlineTimer& deadline, const AtspiObject& object);
    std::optional<QList<AtspiObject>> childrenOf(const QDeadlineTimer& deadline, const AtspiObject& object);
    bool hasInterfaces(const QDeadlineTimer& deadline, const AtspiObject& object, const QStringList& wanted);
    bool countsInsertionInUtf16(const QDeadlineTimer& deadline, const AtspiObject& object);

    std::optional<TextState> readText(const QDeadlineTimer& deadline, const AtspiObject& object);
    std::optional<TextRange> selection(const QDeadlineTimer& deadline, const AtspiObject& object,
                                       const TextState& state);
    bool insertAt(const QDeadlineTimer& deadline, const AtspiObject& object, const TextState& state,
                  qint64 utf16Index, const QString& insertion);
    bool deleteRange(const QDeadlineTimer& deadline, const AtspiObject& object, const TextState& state,
                     qint64 utf16Start, qint64 utf16End);
    // Puts `wanted` back into a field that now holds `current`, touching only the part that differs.
    bool restoreText(const QDeadlineTimer& deadline, const AtspiObject& object, const QString& wanted,
                     const TextState& current);
    // Reads the field after a write: success when it holds `expected` (the caret then goes to `caret`);
    // otherwise the field is put back as it was, with `selected` selected again.
    int verifyWrite(const QDeadlineTimer& deadline, const AtspiObject& object, const TextState& before,
                    const QString& expected, std::optional<qint64> caret, std::optional<TextRange> selected);
    void reselect(const QDeadlineTimer& deadline, const AtspiObject& object, const QString& text,
                  TextRange range);

    std::unique_ptr<AtspiBus> m_bus;
    QElapsedTimer m_lastConnectAttempt;
    QHash<QString, bool> m_insertsInUtf16; // by application bus name
    // Presses under way answer through watchers parented here: none is told once the adapter is gone.
    std::unique_ptr<QObject> m_pressContext;
};

} // namespace quenda
