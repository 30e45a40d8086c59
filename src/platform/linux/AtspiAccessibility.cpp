#include "platform/linux/AtspiAccessibility.h"

#include "text/Graphemes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <functional>

namespace quenda {

namespace {

constexpr int pressTimeoutMsec = 5000;

// Owns one reference of a GObject.
template <typename T>
struct GRef {
    T* p = nullptr;
    GRef() = default;
    explicit GRef(T* adopted)
        : p(adopted)
    {}
    ~GRef()
    {
        if (p)
            g_object_unref(p);
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
    GRef(GRef&& other) noexcept
        : p(std::exchange(other.p, nullptr))
    {}
    T* release() { return std::exchange(p, nullptr); }
    explicit operator bool() const { return p != nullptr; }
};

// Catches the GError of one call and frees it.
struct Err {
    GError* e = nullptr;
    ~Err()
    {
        if (e)
            g_error_free(e);
    }
    GError** operator&() { return &e; }
    explicit operator bool() const { return e != nullptr; }
};

struct GFreeString {
    gchar* s = nullptr;
    ~GFreeString() { g_free(s); }
};

const AtspiElement& cast(const AccessibleElement& element)
{
    return static_cast<const AtspiElement&>(element);
}

bool toolkitCountsUtf16(AtspiAccessible* object)
{
    Err error;
    GRef<AtspiAccessible> app(atspi_accessible_get_application(object, &error));
    if (!app)
        return false;
    Err nameError;
    GFreeString name{atspi_accessible_get_toolkit_name(app.p, &nameError)};
    return name.s && QString::fromUtf8(name.s).contains(QLatin1String("qt"), Qt::CaseInsensitive);
}

ElementRef wrap(AtspiAccessible* adopted, std::optional<bool> countsUtf16 = std::nullopt)
{
    if (!adopted)
        return nullptr;
    const bool utf16 = countsUtf16 ? *countsUtf16 : toolkitCountsUtf16(adopted);
    return std::make_shared<AtspiElement>(adopted, utf16);
}

bool hasState(AtspiAccessible* object, AtspiStateType state)
{
    GRef<AtspiStateSet> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.p, state);
}

AtspiRole roleOf(AtspiAccessible* object)
{
    Err error;
    return atspi_accessible_get_role(object, &error);
}

// Depth-first search below `object` (not including it) for the first descendant that matches; subtrees
// for which `descend` says no are skipped. At most `budget` objects are visited.
AtspiAccessible* findDescendant(AtspiAccessible* object, const std::function<bool(AtspiAccessible*)>& matches,
                                const std::function<bool(AtspiAccessible*)>& descend, int depth, int& budget)
{
    if (depth <= 0)
        return nullptr;
    Err error;
    const int count = atspi_accessible_get_child_count(object, &error);
    for (int i = 0; i < count && budget > 0; ++i) {
        Err childError;
        GRef<AtspiAccessible> child(atspi_accessible_get_child_at_index(object, i, &childError));
        if (!child)
            continue;
        --budget;
        if (matches(child.p))
            return child.release();
        if (!descend(child.p))
            continue;
        if (AtspiAccessible* hit = findDescendant(child.p, matches, descend, depth - 1, budget))
            return hit;
    }
    return nullptr;
}

// Focus, states and children change all the time; the cache follows them only as fast as change events
// arrive, so a field focused a moment ago could be missed. Ask the application itself for those.
void askLive(AtspiAccessible* application)
{
    atspi_accessible_set_cache_mask(
        application,
        static_cast<AtspiCache>(ATSPI_CACHE_DEFAULT & ~(ATSPI_CACHE_STATES | ATSPI_CACHE_CHILDREN)));
}

GRef<AtspiAccessible> applicationOf(qint64 processIdentifier)
{
    GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop)
        return {};
    Err error;
    const int count = atspi_accessible_get_child_count(desktop.p, &error);
    for (int i = 0; i < count; ++i) {
        Err childError;
        GRef<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.p, i, &childError));
        if (!app)
            continue;
        Err pidError;
        if (atspi_accessible_get_process_id(app.p, &pidError) == static_cast<guint>(processIdentifier) &&
            !pidError)
            return app;
    }
    return {};
}

AtspiAccessible* focusedIn(AtspiAccessible* app, bool requireActiveWindow)
{
    int budget = 20000;
    auto isFocused = [](AtspiAccessible* o) { return hasState(o, ATSPI_STATE_FOCUSED); };
    auto descend = [](AtspiAccessible* o) {
        const AtspiRole role = roleOf(o);
        // Menus hold no text field, and closed menus are large: skip them.
        return role != ATSPI_ROLE_MENU_BAR && role != ATSPI_ROLE_MENU && hasState(o, ATSPI_STATE_SHOWING);
    };
    Err error;
    const int windows = atspi_accessible_get_child_count(app, &error);
    for (int pass = 0; pass < 2; ++pass) {
        // Active windows first: a dialog's focus wins over the main window's remembered one.
        for (int i = 0; i < windows; ++i) {
            Err childError;
            GRef<AtspiAccessible> window(atspi_accessible_get_child_at_index(app, i, &childError));
            if (!window || hasState(window.p, ATSPI_STATE_ACTIVE) != (pass == 0))
                continue;
            if (isFocused(window.p))
                return window.release();
            if (AtspiAccessible* hit = findDescendant(window.p, isFocused, descend, 64, budget))
                return hit;
        }
        if (requireActiveWindow)
            break;
    }
    return nullptr;
}

QString textOf(AtspiText* text, bool& ok)
{
    Err countError;
    const int count = atspi_text_get_character_count(text, &countError);
    Err error;
    GFreeString contents{count > 0 ? atspi_text_get_text(text, 0, count, &error) : nullptr};
    ok = !countError && !error;
    return contents.s ? QString::fromUtf8(contents.s) : QString();
}

// Native offsets (UTF-16 units for Qt, code points elsewhere) to QString indices and back.
std::optional<qint64> toUtf16(const QString& text, qint64 offset, bool countsUtf16)
{
    if (offset < 0)
        return std::nullopt;
    if (countsUtf16)
        return offset <= text.size() ? std::optional(offset) : std::nullopt;
    qint64 index = 0;
    for (qint64 n = 0; n < offset; ++n) {
        if (index >= text.size())
            return std::nullopt;
        index += (text.at(index).isHighSurrogate() && index + 1 < text.size()) ? 2 : 1;
    }
    return index;
}

qint64 toNative(const QString& text, qint64 utf16Index, bool countsUtf16)
{
    if (countsUtf16)
        return utf16Index;
    return QStringView(text).left(utf16Index).toUcs4().size();
}

// The "gint length" of an insertion: UTF-16 units for Qt, bytes for GTK.
int insertionLength(const QString& text, bool countsUtf16)
{
    return countsUtf16 ? static_cast<int>(text.size()) : static_cast<int>(text.toUtf8().size());
}

} // namespace

AtspiElement::AtspiElement(AtspiAccessible* adopted, bool countsUtf16)
    : m_object(adopted)
    , m_countsUtf16(countsUtf16)
{}

AtspiElement::~AtspiElement()
{
    g_object_unref(m_object);
}

AtspiAccessibility::AtspiAccessibility()
{
    const int status = atspi_init();
    // 0: initialised now; 1: already initialised. The desktop answering tells whether the bus is there.
    m_available = status == 0 || status == 1;
    if (m_available) {
        GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
        m_available = static_cast<bool>(desktop);
    }
}

bool AtspiAccessibility::isAvailable() const
{
    return m_available;
}

ElementRef AtspiAccessibility::focusedElement(qint64 processIdentifier)
{
    GRef<AtspiAccessible> app = applicationOf(processIdentifier);
    if (!app)
        return nullptr;
    return wrap(focusedIn(app.p, false), toolkitCountsUtf16(app.p));
}

ElementRef AtspiAccessibility::systemFocusedElement()
{
    GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop)
        return nullptr;
    const auto ownPid = static_cast<guint>(QCoreApplication::applicationPid());
    Err error;
    const int count = atspi_accessible_get_child_count(desktop.p, &error);
    for (int i = 0; i < count; ++i) {
        Err childError;
        GRef<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.p, i, &childError));
        Err pidError;
        if (!app || atspi_accessible_get_process_id(app.p, &pidError) == ownPid)
            continue;
        askLive(app.p);
        if (AtspiAccessible* hit = focusedIn(app.p, true))
            return wrap(hit, toolkitCountsUtf16(app.p));
    }
    return nullptr;
}

int AtspiAccessibility::setSelectedText(const AccessibleElement& element, const QString& insertion)
{
    const AtspiElement& e = cast(element);
    GRef<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(e.object()));
    GRef<AtspiText> text(atspi_accessible_get_text_iface(e.object()));
    if (!editable || !text)
        return ax::attributeUnsupported;
    bool ok = false;
    const QString before = textOf(text.p, ok);
    if (!ok)
        return ax::cannotComplete;
    const SelectedRangeRead read = selectedTextRange(element);
    if (read.problem != SelectedRangeRead::Problem::none)
        return ax::cannotComplete;
    const qint64 start = read.range.location;
    const qint64 end = start + read.range.length;
    const qint64 nativeStart = toNative(before, start, e.countsUtf16());
    if (end > start) {
        Err error;
        if (!atspi_editable_text_delete_text(editable.p, static_cast<gint>(nativeStart),
                                             static_cast<gint>(toNative(before, end, e.countsUtf16())),
                                             &error) ||
            error)
            return ax::cannotComplete;
    }
    const QByteArray utf8 = insertion.toUtf8();
    Err error;
    if (!atspi_editable_text_insert_text(editable.p, static_cast<gint>(nativeStart), utf8.constData(),
                                         insertionLength(insertion, e.countsUtf16()), &error) ||
        error)
        return ax::cannotComplete;
    // Some fields accept the call and change nothing (or something else): only the text itself tells.
    const QString expected = before.left(start) + insertion + before.mid(end);
    if (textOf(text.p, ok) != expected)
        return ax::cannotComplete;
    Err caretError;
    atspi_text_set_caret_offset(
        text.p, static_cast<gint>(toNative(expected, start + insertion.size(), e.countsUtf16())),
        &caretError);
    return ax::success;
}

std::optional<QString> AtspiAccessibility::value(const AccessibleElement& element)
{
    GRef<AtspiText> text(atspi_accessible_get_text_iface(cast(element).object()));
    if (!text)
        return std::nullopt;
    bool ok = false;
    QString contents = textOf(text.p, ok);
    if (!ok)
        return std::nullopt;
    return contents;
}

SelectedRangeRead AtspiAccessibility::selectedTextRange(const AccessibleElement& element)
{
    const AtspiElement& e = cast(element);
    GRef<AtspiText> text(atspi_accessible_get_text_iface(e.object()));
    if (!text)
        return {SelectedRangeRead::Problem::unavailable, {}};
    bool ok = false;
    const QString contents = textOf(text.p, ok);
    qint64 start = 0, end = 0;
    Err countError;
    const int selections = atspi_text_get_n_selections(text.p, &countError);
    if (selections > 0) {
        Err error;
        AtspiRange* range = atspi_text_get_selection(text.p, 0, &error);
        if (!range || error) {
            if (range)
                g_free(range);
            return {SelectedRangeRead::Problem::unavailable, {}};
        }
        start = std::min(range->start_offset, range->end_offset);
        end = std::max(range->start_offset, range->end_offset);
        g_free(range);
    } else {
        Err error;
        start = end = atspi_text_get_caret_offset(text.p, &error);
        if (error)
            return {SelectedRangeRead::Problem::unavailable, {}};
    }
    const auto from = toUtf16(contents, start, e.countsUtf16());
    const auto to = toUtf16(contents, end, e.countsUtf16());
    if (!ok || !from || !to)
        return {SelectedRangeRead::Problem::invalid, {}};
    return {SelectedRangeRead::Problem::none, TextRange{*from, *to - *from}};
}

int AtspiAccessibility::setValue(const AccessibleElement& element, const QString& contents)
{
    GRef<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(cast(element).object()));
    if (!editable)
        return ax::attributeUnsupported;
    Err error;
    if (!atspi_editable_text_set_text_contents(editable.p, contents.toUtf8().constData(), &error) || error)
        return ax::cannotComplete;
    const auto now = value(element);
    return now == contents ? ax::success : ax::cannotComplete;
}

int AtspiAccessibility::setSelectedTextRange(const AccessibleElement& element, TextRange range)
{
    const AtspiElement& e = cast(element);
    GRef<AtspiText> text(atspi_accessible_get_text_iface(e.object()));
    if (!text)
        return ax::attributeUnsupported;
    bool ok = false;
    const QString contents = textOf(text.p, ok);
    Err error;
    const gint caret = static_cast<gint>(toNative(contents, range.location, e.countsUtf16()));
    if (!atspi_text_set_caret_offset(text.p, caret, &error) || error)
        return ax::cannotComplete;
    return ax::success;
}

ElementRef AtspiAccessibility::applicationElement(qint64 processIdentifier)
{
    GRef<AtspiAccessible> app = applicationOf(processIdentifier);
    return app ? wrap(app.release()) : nullptr;
}

ElementRef AtspiAccessibility::menuBar(const AccessibleElement& application)
{
    int budget = 2000;
    auto isMenuBar = [](AtspiAccessible* o) { return roleOf(o) == ATSPI_ROLE_MENU_BAR; };
    auto descend = [](AtspiAccessible* o) {
        const AtspiRole role = roleOf(o);
        return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_FILLER ||
               role == ATSPI_ROLE_PANEL || role == ATSPI_ROLE_ROOT_PANE || role == ATSPI_ROLE_LAYERED_PANE ||
               role == ATSPI_ROLE_DIALOG;
    };
    const AtspiElement& app = cast(application);
    return wrap(findDescendant(app.object(), isMenuBar, descend, 5, budget), app.countsUtf16());
}

std::optional<QString> AtspiAccessibility::title(const AccessibleElement& element)
{
    Err error;
    GFreeString name{atspi_accessible_get_name(cast(element).object(), &error)};
    if (!name.s || error)
        return std::nullopt;
    return QString::fromUtf8(name.s);
}

std::optional<QList<ElementRef>> AtspiAccessibility::children(const AccessibleElement& element)
{
    const AtspiElement& e = cast(element);
    Err error;
    const int count = atspi_accessible_get_child_count(e.object(), &error);
    if (error)
        return std::nullopt;
    QList<ElementRef> result;
    for (int i = 0; i < count; ++i) {
        Err childError;
        if (ElementRef child =
                wrap(atspi_accessible_get_child_at_index(e.object(), i, &childError), e.countsUtf16()))
            result << child;
    }
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
    GRef<AtspiStateSet> states(atspi_accessible_get_state_set(cast(element).object()));
    if (!states)
        return std::nullopt;
    return atspi_state_set_contains(states.p, ATSPI_STATE_ENABLED) ||
           atspi_state_set_contains(states.p, ATSPI_STATE_SENSITIVE);
}

int AtspiAccessibility::press(const AccessibleElement& element)
{
    GRef<AtspiAction> action(atspi_accessible_get_action_iface(cast(element).object()));
    if (!action)
        return ax::actionUnsupported;
    Err countError;
    const int count = atspi_action_get_n_actions(action.p, &countError);
    if (count <= 0)
        return ax::actionUnsupported;
    int chosen = 0;
    for (int i = 0; i < count; ++i) {
        Err error;
        GFreeString name{atspi_action_get_action_name(action.p, i, &error)};
        const QString n = QString::fromUtf8(name.s).toLower();
        if (n == QLatin1String("press") || n == QLatin1String("click") || n == QLatin1String("activate")) {
            chosen = i;
            break;
        }
    }
    // Not atspi_action_do_action: a Paste item makes the target ask Quenda for the clipboard before it
    // answers, and a blocked Quenda cannot serve it. The call goes out by hand and events keep flowing.
    auto* object = reinterpret_cast<AtspiObject*>(cast(element).object());
    if (!object->app || !object->app->bus || !object->app->bus_name || !object->path)
        return ax::invalidUIElement;
    DBusMessage* message = dbus_message_new_method_call(object->app->bus_name, object->path,
                                                        "org.a11y.atspi.Action", "DoAction");
    if (!message)
        return ax::failure;
    dbus_int32_t index = chosen;
    dbus_message_append_args(message, DBUS_TYPE_INT32, &index, DBUS_TYPE_INVALID);
    DBusPendingCall* pending = nullptr;
    const bool sent = dbus_connection_send_with_reply(object->app->bus, message, &pending, pressTimeoutMsec);
    dbus_message_unref(message);
    if (!sent || !pending)
        return ax::cannotComplete;
    dbus_connection_flush(object->app->bus);
    QElapsedTimer timer;
    timer.start();
    while (!dbus_pending_call_get_completed(pending) && timer.elapsed() < pressTimeoutMsec) {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        g_main_context_iteration(nullptr, FALSE);
        if (!dbus_pending_call_get_completed(pending))
            QThread::usleep(500);
    }
    DBusMessage* reply =
        dbus_pending_call_get_completed(pending) ? dbus_pending_call_steal_reply(pending) : nullptr;
    if (!reply)
        dbus_pending_call_cancel(pending);
    dbus_pending_call_unref(pending);
    if (!reply)
        return ax::cannotComplete;
    dbus_bool_t done = false;
    const bool ok = dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN &&
                    dbus_message_get_args(reply, nullptr, DBUS_TYPE_BOOLEAN, &done, DBUS_TYPE_INVALID) &&
                    done;
    dbus_message_unref(reply);
    return ok ? ax::success : ax::cannotComplete;
}

} // namespace quenda
