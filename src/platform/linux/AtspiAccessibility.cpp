#include "platform/linux/AtspiAccessibility.h"

#include "text/Graphemes.h"

#include <QCoreApplication>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

namespace quenda {

namespace {

const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kText = QStringLiteral("org.a11y.atspi.Text");
const QString kEditableText = QStringLiteral("org.a11y.atspi.EditableText");
const QString kAction = QStringLiteral("org.a11y.atspi.Action");
const QString kApplication = QStringLiteral("org.a11y.atspi.Application");
const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");

// The protocol's state and role numbers that the searches look at.
enum State : uint {
    stateActive = 1,
    stateEnabled = 8,
    stateFocused = 12,
    stateSensitive = 24,
    stateShowing = 25,
};
enum Role : uint {
    roleDialog = 16,
    roleFiller = 20,
    roleFrame = 23,
    roleLayeredPane = 30,
    roleMenu = 33,
    roleMenuBar = 34,
    rolePanel = 39,
    roleRootPane = 46,
    roleWindow = 69,
};

constexpr int searchNodeBudget = 5000;
constexpr int searchDepth = 64;
constexpr int reconnectIntervalMsec = 5000;

bool has(const QList<uint>& states, State state)
{
    const int word = static_cast<int>(state) / 32;
    return word < states.size() && (states[word] & (1u << (static_cast<uint>(state) % 32))) != 0;
}

const AtspiObject& cast(const AccessibleElement& element)
{
    return static_cast<const AtspiElement&>(element).object();
}

ElementRef wrap(const std::optional<AtspiObject>& object)
{
    return object ? std::make_shared<AtspiElement>(*object) : nullptr;
}

std::optional<bool> boolReply(const std::optional<QVariantList>& reply)
{
    if (!reply || reply->isEmpty())
        return std::nullopt;
    return reply->constFirst().toBool();
}

// Applications add invisible markers of their own (an object placeholder, a zero-width no-break space
// after an emoji): a text is what it is without them.
bool sameText(const QString& a, const QString& b)
{
    return graphemes::withoutEmbeddedMarkers(a) == graphemes::withoutEmbeddedMarkers(b);
}

} // namespace

struct AtspiAccessibility::Search {
    QDeadlineTimer deadline;
    int budget = searchNodeBudget;
};

AtspiAccessibility::AtspiAccessibility()
    : m_pressContext(std::make_unique<QObject>())
{}
AtspiAccessibility::~AtspiAccessibility() = default;

AtspiBus* AtspiAccessibility::bus()
{
    // Connected on first use, and again a while after a failed attempt: the bus may start later.
    if (!m_bus &&
        (!m_lastConnectAttempt.isValid() || m_lastConnectAttempt.elapsed() > reconnectIntervalMsec)) {
        m_lastConnectAttempt.start();
        m_bus = AtspiBus::connect();
    }
    return m_bus.get();
}

bool AtspiAccessibility::isAvailable()
{
    AtspiBus* b = bus();
    return b && b->property(QDeadlineTimer(AtspiBus::callTimeoutMsec),
                            AtspiObject{QStringLiteral("org.a11y.atspi.Registry"), kRootPath}, kAccessible,
                            QStringLiteral("ChildCount"))
                    .has_value();
}

std::optional<QList<uint>> AtspiAccessibility::states(const QDeadlineTimer& deadline,
                                                      const AtspiObject& object)
{
    const auto reply = m_bus->call(deadline, object, kAccessible, QStringLiteral("GetState"));
    if (!reply || reply->isEmpty())
        return std::nullopt;
    return AtspiBus::uintList(reply->constFirst());
}

std::optional<uint> AtspiAccessibility::role(const QDeadlineTimer& deadline, const AtspiObject& object)
{
    const auto reply = m_bus->call(deadline, object, kAccessible, QStringLiteral("GetRole"));
    if (!reply || reply->isEmpty())
        return std::nullopt;
    bool ok = false;
    const uint value = reply->constFirst().toUInt(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

std::optional<QList<AtspiObject>> AtspiAccessibility::childrenOf(const QDeadlineTimer& deadline,
                                                                 const AtspiObject& object)
{
    const auto reply = m_bus->call(deadline, object, kAccessible, QStringLiteral("GetChildren"));
    if (!reply || reply->isEmpty())
        return std::nullopt;
    return AtspiBus::objectList(reply->constFirst());
}

bool AtspiAccessibility::hasInterfaces(const QDeadlineTimer& deadline, const AtspiObject& object,
                                       const QStringList& wanted)
{
    const auto reply = m_bus->call(deadline, object, kAccessible, QStringLiteral("GetInterfaces"));
    const auto interfaces =
        reply && !reply->isEmpty() ? AtspiBus::stringList(reply->constFirst()) : std::nullopt;
    if (!interfaces)
        return false;
    for (const QString& name : wanted) {
        if (!interfaces->contains(name))
            return false;
    }
    return true;
}

std::optional<AtspiObject> AtspiAccessibility::applicationOf(const QDeadlineTimer& deadline,
                                                             qint64 processIdentifier)
{
    for (const AtspiObject& application : m_bus->applications(deadline)) {
        if (m_bus->isSkipped(application.service))
            continue;
        if (m_bus->processOf(deadline, application.service) == processIdentifier)
            return application;
    }
    return std::nullopt;
}

std::optional<AtspiObject> AtspiAccessibility::findFocused(Search& search, const AtspiObject& node, int depth)
{
    if (depth <= 0)
        return std::nullopt;
    const auto children = childrenOf(search.deadline, node);
    if (!children)
        return std::nullopt;
    for (const AtspiObject& child : *children) {
        if (--search.budget < 0 || search.deadline.hasExpired())
            return std::nullopt;
        const auto childStates = states(search.deadline, child);
        if (!childStates)
            continue;
        if (has(*childStates, stateFocused))
            return child;
        // Hidden parts hold no focus; menus hold no text field, and closed ones are large.
        if (!has(*childStates, stateShowing))
            continue;
        const auto childRole = role(search.deadline, child);
        if (childRole == roleMenuBar || childRole == roleMenu)
            continue;
        if (auto hit = findFocused(search, child, depth - 1))
            return hit;
    }
    return std::nullopt;
}

std::optional<AtspiObject> AtspiAccessibility::focusedIn(Search& search, const AtspiObject& application,
                                                         bool requireActiveWindow)
{
    const auto windows = childrenOf(search.deadline, application);
    if (!windows)
        return std::nullopt;
    QList<AtspiObject> active, inactive;
    for (const AtspiObject& window : *windows) {
        const auto windowStates = states(search.deadline, window);
        if (!windowStates)
            continue;
        if (has(*windowStates, stateFocused))
            return window;
        (has(*windowStates, stateActive) ? active : inactive).append(window);
    }
    // Active windows first: a dialog's focus wins over the main window's remembered one.
    for (const AtspiObject& window : std::as_const(active)) {
        if (auto hit = findFocused(search, window, searchDepth))
            return hit;
    }
    if (requireActiveWindow)
        return std::nullopt;
    for (const AtspiObject& window : std::as_const(inactive)) {
        if (auto hit = findFocused(search, window, searchDepth))
            return hit;
    }
    return std::nullopt;
}

ElementRef AtspiAccessibility::focusedElement(qint64 processIdentifier)
{
    if (!bus())
        return nullptr;
    Search search{QDeadlineTimer(searchBudgetMsec)};
    const auto application = applicationOf(search.deadline, processIdentifier);
    if (!application)
        return nullptr;
    return wrap(focusedIn(search, *application, false));
}

ElementRef AtspiAccessibility::systemFocusedElement()
{
    if (!bus())
        return nullptr;
    Search search{QDeadlineTimer(searchBudgetMsec)};
    const qint64 ownPid = QCoreApplication::applicationPid();
    for (const AtspiObject& application : m_bus->applications(search.deadline)) {
        if (search.deadline.hasExpired())
            break;
        // Quenda's own interface answers on its own main thread, which is the one asking: never ask it.
        if (m_bus->isSkipped(application.service) ||
            m_bus->processOf(search.deadline, application.service).value_or(ownPid) == ownPid)
            continue;
        if (auto hit = focusedIn(search, application, true))
            return wrap(hit);
    }
    return nullptr;
}

bool AtspiAccessibility::countsInsertionInUtf16(const QDeadlineTimer& deadline, const AtspiObject& object)
{
    // The length argument of an insertion is the one offset the text cannot tell: Qt's bridge takes UTF-16
    // units, the ATK bridge (GTK, LibreOffice, browsers) bytes. A wrong guess is caught by the read-back.
    if (const auto it = m_insertsInUtf16.constFind(object.service); it != m_insertsInUtf16.cend())
        return *it;
    const auto name = m_bus->property(deadline, AtspiObject{object.service, kRootPath}, kApplication,
                                      QStringLiteral("ToolkitName"));
    const bool utf16 = name && name->toString().compare(QLatin1String("qt"), Qt::CaseInsensitive) == 0;
    if (name)
        m_insertsInUtf16.insert(object.service, utf16);
    return utf16;
}

std::optional<AtspiAccessibility::TextState> AtspiAccessibility::readText(const QDeadlineTimer& deadline,
                                                                          const AtspiObject& object)
{
    const auto count = m_bus->property(deadline, object, kText, QStringLiteral("CharacterCount"));
    if (!count)
        return std::nullopt;
    const auto reply = m_bus->call(deadline, object, kText, QStringLiteral("GetText"), {0, -1});
    if (!reply || reply->isEmpty() || reply->constFirst().metaType() != QMetaType::fromType<QString>())
        return std::nullopt;
    TextState state;
    state.text = reply->constFirst().toString();
    state.unit = TextOffsets::detect(state.text, count->toLongLong());
    return state;
}

std::optional<TextRange> AtspiAccessibility::selection(const QDeadlineTimer& deadline,
                                                       const AtspiObject& object, const TextState& state)
{
    qint64 start = 0, end = 0;
    const auto count = m_bus->call(deadline, object, kText, QStringLiteral("GetNSelections"));
    if (!count || count->isEmpty())
        return std::nullopt;
    if (count->constFirst().toInt() > 0) {
        const auto range = m_bus->call(deadline, object, kText, QStringLiteral("GetSelection"), {0});
        if (!range || range->size() < 2)
            return std::nullopt;
        start = std::min(range->at(0).toLongLong(), range->at(1).toLongLong());
        end = std::max(range->at(0).toLongLong(), range->at(1).toLongLong());
    } else {
        const auto caret = m_bus->property(deadline, object, kText, QStringLiteral("CaretOffset"));
        if (!caret)
            return std::nullopt;
        start = end = caret->toLongLong();
    }
    const auto from = TextOffsets::toUtf16(state.text, start, state.unit);
    const auto to = TextOffsets::toUtf16(state.text, end, state.unit);
    if (!from || !to)
        return std::nullopt;
    return TextRange{*from, *to - *from};
}

bool AtspiAccessibility::insertAt(const QDeadlineTimer& deadline, const AtspiObject& object,
                                  const TextState& state, qint64 utf16Index, const QString& insertion)
{
    const auto position = TextOffsets::toNative(state.text, utf16Index, state.unit);
    if (!position)
        return false;
    const bool utf16 = countsInsertionInUtf16(deadline, object);
    const qint64 length = utf16 ? insertion.size() : insertion.toUtf8().size();
    return boolReply(m_bus->call(deadline, object, kEditableText, QStringLiteral("InsertText"),
                                 {static_cast<int>(*position), insertion, static_cast<int>(length)}))
        .value_or(false);
}

bool AtspiAccessibility::deleteRange(const QDeadlineTimer& deadline, const AtspiObject& object,
                                     const TextState& state, qint64 utf16Start, qint64 utf16End)
{
    const auto from = TextOffsets::toNative(state.text, utf16Start, state.unit);
    const auto to = TextOffsets::toNative(state.text, utf16End, state.unit);
    if (!from || !to)
        return false;
    return boolReply(m_bus->call(deadline, object, kEditableText, QStringLiteral("DeleteText"),
                                 {static_cast<int>(*from), static_cast<int>(*to)}))
        .value_or(false);
}

bool AtspiAccessibility::restoreText(const QDeadlineTimer& deadline, const AtspiObject& object,
                                     const QString& wanted, const TextState& current)
{
    if (current.unit == TextOffsets::Unit::unknown)
        return false;
    const QString& now = current.text;
    qint64 prefix = 0;
    const qint64 shorter = std::min(wanted.size(), now.size());
    while (prefix < shorter && wanted[prefix] == now[prefix])
        ++prefix;
    qint64 suffix = 0;
    while (suffix < shorter - prefix && wanted[wanted.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    // Never cut between the halves of a surrogate pair.
    if (prefix > 0 && QChar(now.at(prefix - 1)).isHighSurrogate())
        --prefix;
    if (suffix > 0 && QChar(now.at(now.size() - suffix)).isLowSurrogate())
        --suffix;
    const qint64 removeEnd = now.size() - suffix;
    const qint64 putEnd = wanted.size() - suffix;
    if (removeEnd > prefix && !deleteRange(deadline, object, current, prefix, removeEnd))
        return false;
    if (putEnd > prefix) {
        TextState cut{now.left(prefix) + now.mid(removeEnd), current.unit};
        if (!insertAt(deadline, object, cut, prefix, wanted.mid(prefix, putEnd - prefix)))
            return false;
    }
    const auto after = readText(deadline, object);
    return after && sameText(after->text, wanted);
}

void AtspiAccessibility::reselect(const QDeadlineTimer& deadline, const AtspiObject& object,
                                  const QString& text, TextRange range)
{
    const auto unit = readText(deadline, object);
    if (!unit)
        return;
    const auto from = TextOffsets::toNative(text, range.location, unit->unit);
    const auto to = TextOffsets::toNative(text, range.location + range.length, unit->unit);
    if (!from || !to)
        return;
    m_bus->call(deadline, object, kText, QStringLiteral("SetCaretOffset"), {static_cast<int>(*from)});
    if (*to > *from && !boolReply(m_bus->call(deadline, object, kText, QStringLiteral("SetSelection"),
                                              {0, static_cast<int>(*from), static_cast<int>(*to)}))
                            .value_or(false))
        m_bus->call(deadline, object, kText, QStringLiteral("AddSelection"),
                    {static_cast<int>(*from), static_cast<int>(*to)});
}

int AtspiAccessibility::verifyWrite(const QDeadlineTimer& deadline, const AtspiObject& object,
                                    const TextState& before, const QString& expected,
                                    std::optional<qint64> caret, std::optional<TextRange> selected)
{
    // Some fields accept a call and change nothing, or something else (a length limit, a filter, offsets
    // counted in another unit): only the text itself tells.
    const auto after = readText(deadline, object);
    if (!after)
        return ax::alteredText;
    if (sameText(after->text, expected)) {
        const TextOffsets::Unit unit = TextOffsets::combine(before.unit, after->unit);
        if (caret) {
            if (const auto native = TextOffsets::toNative(after->text, *caret, unit))
                m_bus->call(deadline, object, kText, QStringLiteral("SetCaretOffset"),
                            {static_cast<int>(*native)});
        }
        return ax::success;
    }
    if (sameText(after->text, before.text))
        return ax::cannotComplete;
    TextState current = *after;
    current.unit = TextOffsets::combine(after->unit, before.unit);
    if (!restoreText(deadline, object, before.text, current))
        return ax::alteredText;
    // The next method types or pastes where the user left the caret, over what they had selected.
    if (selected)
        reselect(deadline, object, before.text, *selected);
    return ax::cannotComplete;
}

int AtspiAccessibility::setSelectedText(const AccessibleElement& element, const QString& insertion)
{
    if (!bus())
        return ax::apiDisabled;
    const QDeadlineTimer deadline(textBudgetMsec);
    const AtspiObject& object = cast(element);
    if (!hasInterfaces(deadline, object, {kText, kEditableText}))
        return ax::attributeUnsupported;
    const auto before = readText(deadline, object);
    if (!before || before->unit == TextOffsets::Unit::unknown)
        return ax::cannotComplete;
    const auto range = selection(deadline, object, *before);
    if (!range)
        return ax::cannotComplete;
    const qint64 start = range->location;
    const qint64 end = start + range->length;
    const QString expected = before->text.left(start) + insertion + before->text.mid(end);
    if (end > start && !deleteRange(deadline, object, *before, start, end)) {
        const int code = verifyWrite(deadline, object, *before, before->text, std::nullopt, *range);
        return code == ax::success ? ax::cannotComplete : code;
    }
    const TextState cut{before->text.left(start) + before->text.mid(end), before->unit};
    insertAt(deadline, object, cut, start, insertion);
    return verifyWrite(deadline, object, *before, expected, start + insertion.size(), *range);
}

std::optional<QString> AtspiAccessibility::value(const AccessibleElement& element)
{
    if (!bus())
        return std::nullopt;
    const auto state = readText(QDeadlineTimer(textBudgetMsec), cast(element));
    return state ? std::optional(state->text) : std::nullopt;
}

SelectedRangeRead AtspiAccessibility::selectedTextRange(const AccessibleElement& element)
{
    if (!bus())
        return {SelectedRangeRead::Problem::unavailable, {}};
    const QDeadlineTimer deadline(textBudgetMsec);
    const auto state = readText(deadline, cast(element));
    if (!state)
        return {SelectedRangeRead::Problem::unavailable, {}};
    const auto range = selection(deadline, cast(element), *state);
    if (!range)
        return {SelectedRangeRead::Problem::invalid, {}};
    return {SelectedRangeRead::Problem::none, *range};
}

int AtspiAccessibility::setValue(const AccessibleElement& element, const QString& contents)
{
    if (!bus())
        return ax::apiDisabled;
    const QDeadlineTimer deadline(textBudgetMsec);
    const AtspiObject& object = cast(element);
    if (!hasInterfaces(deadline, object, {kText, kEditableText}))
        return ax::attributeUnsupported;
    const auto before = readText(deadline, object);
    if (!before)
        return ax::cannotComplete;
    const auto selected = selection(deadline, object, *before);
    m_bus->call(deadline, object, kEditableText, QStringLiteral("SetTextContents"), {contents});
    return verifyWrite(deadline, object, *before, contents, std::nullopt, selected);
}

int AtspiAccessibility::setSelectedTextRange(const AccessibleElement& element, TextRange range)
{
    if (!bus())
        return ax::apiDisabled;
    const QDeadlineTimer deadline(textBudgetMsec);
    const auto state = readText(deadline, cast(element));
    if (!state)
        return ax::attributeUnsupported;
    const auto caret = TextOffsets::toNative(state->text, range.location, state->unit);
    if (!caret)
        return ax::illegalArgument;
    const auto done = boolReply(m_bus->call(deadline, cast(element), kText, QStringLiteral("SetCaretOffset"),
                                            {static_cast<int>(*caret)}));
    return done.value_or(false) ? ax::success : ax::cannotComplete;
}

ElementRef AtspiAccessibility::applicationElement(qint64 processIdentifier)
{
    if (!bus())
        return nullptr;
    return wrap(applicationOf(QDeadlineTimer(searchBudgetMsec), processIdentifier));
}

ElementRef AtspiAccessibility::menuBar(const AccessibleElement& application)
{
    if (!bus())
        return nullptr;
    const QDeadlineTimer deadline(searchBudgetMsec);
    int budget = 2000;
    // Breadth-first through the containers a menu bar sits in, a few levels deep.
    QList<std::pair<AtspiObject, int>> queue{{cast(application), 0}};
    while (!queue.isEmpty() && budget > 0 && !deadline.hasExpired()) {
        const auto [node, depth] = queue.takeFirst();
        const auto children = childrenOf(deadline, node);
        if (!children)
            continue;
        for (const AtspiObject& child : *children) {
            if (--budget < 0)
                break;
            const auto childRole = role(deadline, child);
            if (childRole == roleMenuBar)
                return wrap(child);
            const bool container = childRole == roleFrame || childRole == roleWindow ||
                                   childRole == roleFiller || childRole == rolePanel ||
                                   childRole == roleRootPane || childRole == roleLayeredPane ||
                                   childRole == roleDialog;
            if (container && depth + 1 < 5)
                queue.append({child, depth + 1});
        }
    }
    return nullptr;
}

std::optional<QString> AtspiAccessibility::title(const AccessibleElement& element)
{
    if (!bus())
        return std::nullopt;
    const auto name =
        m_bus->property(QDeadlineTimer(textBudgetMsec), cast(element), kAccessible, QStringLiteral("Name"));
    return name ? std::optional(name->toString()) : std::nullopt;
}

std::optional<QList<ElementRef>> AtspiAccessibility::children(const AccessibleElement& element)
{
    if (!bus())
        return std::nullopt;
    const auto objects = childrenOf(QDeadlineTimer(textBudgetMsec), cast(element));
    if (!objects)
        return std::nullopt;
    QList<ElementRef> result;
    for (const AtspiObject& object : *objects)
        result << wrap(object);
    return result;
}

std::optional<QList<ElementRef>> AtspiAccessibility::visibleChildren(const AccessibleElement&)
{
    // AT-SPI has one list of children, visible or not.
    return std::nullopt;
}

ElementRef AtspiAccessibility::shownMenu(const AccessibleElement&)
{
    return nullptr;
}

std::optional<bool> AtspiAccessibility::isEnabled(const AccessibleElement& element)
{
    if (!bus())
        return std::nullopt;
    const auto s = states(QDeadlineTimer(textBudgetMsec), cast(element));
    if (!s)
        return std::nullopt;
    return has(*s, stateEnabled) || has(*s, stateSensitive);
}

void AtspiAccessibility::press(const AccessibleElement& element, Pressed done)
{
    // Answers known at once still arrive later, as the interface promises.
    auto answerNow = [this, &done](int code) {
        QTimer::singleShot(0, m_pressContext.get(), [done = std::move(done), code] { done(code); });
    };
    if (!bus())
        return answerNow(ax::apiDisabled);
    const AtspiObject& object = cast(element);
    const QDeadlineTimer deadline(textBudgetMsec);
    const auto count = m_bus->property(deadline, object, kAction, QStringLiteral("NActions"));
    if (!count || count->toInt() <= 0)
        return answerNow(ax::actionUnsupported);
    int chosen = 0;
    for (int i = 0; i < count->toInt(); ++i) {
        const auto name = m_bus->call(deadline, object, kAction, QStringLiteral("GetName"), {i});
        const QString n = name && !name->isEmpty() ? name->constFirst().toString().toLower() : QString();
        if (n == QLatin1String("press") || n == QLatin1String("click") || n == QLatin1String("activate")) {
            chosen = i;
            break;
        }
    }
    if (m_bus->isSkipped(object.service))
        return answerNow(ax::cannotComplete);
    // A Paste item makes its application ask Quenda for the clipboard before it answers; the main loop
    // serves that request while the press is out, and the answer continues the caller's work.
    const QDBusPendingCall pending =
        m_bus->asyncCall(object, kAction, QStringLiteral("DoAction"), {chosen}, pressTimeoutMsec);
    auto* watcher = new QDBusPendingCallWatcher(pending, m_pressContext.get());
    auto once = std::make_shared<Pressed>(std::move(done));
    auto finish = [watcher, once](int code) {
        if (!*once)
            return;
        const Pressed told = std::exchange(*once, {});
        watcher->deleteLater();
        told(code);
    };
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [finish](QDBusPendingCallWatcher* w) {
                         const QDBusPendingReply<bool> reply = *w;
                         finish(reply.isValid() && reply.value() ? ax::success : ax::cannotComplete);
                     });
    // The bus's own timeout ends the call; this one covers a bus that stops answering altogether.
    QTimer::singleShot(pressTimeoutMsec + 100, watcher, [finish] { finish(ax::cannotComplete); });
}

} // namespace quenda
