#include "insert/ClipboardInserter.h"

#include "base/Scheduler.h"
#include "base/Settings.h"
#include "base/UserDefaults.h"
#include "insert/AccessibilityInserter.h"
#include "platform/AutomationHelper.h"
#include "platform/KeyboardSynthesizer.h"
#include "text/Graphemes.h"

namespace quenda {

namespace {
const QString kAutomationGrantKey = settings::automationGranted.key();

bool isTerminal(const QString& applicationId)
{
    static const QStringList terminals = {
        QStringLiteral("gnome-terminal"),
        QStringLiteral("gnome-terminal-server"),
        QStringLiteral("konsole"),
        QStringLiteral("kitty"),
        QStringLiteral("alacritty"),
        QStringLiteral("xterm"),
        QStringLiteral("uxterm"),
        QStringLiteral("wezterm"),
        QStringLiteral("tilix"),
        QStringLiteral("foot"),
        QStringLiteral("terminator"),
        QStringLiteral("urxvt"),
        QStringLiteral("rxvt"),
        QStringLiteral("xfce4-terminal"),
        QStringLiteral("st"),
        QStringLiteral("sakura"),
        QStringLiteral("terminology"),
        QStringLiteral("lxterminal"),
        QStringLiteral("mate-terminal"),
        QStringLiteral("qterminal"),
        QStringLiteral("ptyxis"),
        QStringLiteral("console"),
        QStringLiteral("blackbox"),
        QStringLiteral("ghostty"),
    };
    // App ids come as "org.gnome.Terminal", "org.wezfurlong.wezterm", "Alacritty", "kitty"...
    const QString id = applicationId.toLower();
    if (id == QLatin1String("org.gnome.terminal") || id.endsWith(QLatin1String(".terminal")))
        return true;
    const QString last = id.section(QLatin1Char('.'), -1);
    return terminals.contains(id) || terminals.contains(last);
}

bool pastesWithShiftInsert(const QString& applicationId)
{
    // xterm and its Unicode wrapper have no paste binding on Ctrl+Shift+V.
    const QString id = applicationId.toLower();
    return id == QLatin1String("xterm") || id == QLatin1String("uxterm");
}

qsizetype occurrences(const QString& haystack, const QString& needle)
{
    return needle.isEmpty() ? 0 : graphemes::withoutEmbeddedMarkers(haystack).count(needle);
}
} // namespace

ClipboardInserter::ClipboardInserter(const InsertionPlatform& platform, QStringList editMenuTitles,
                                     QStringList pasteMenuTitles)
    : m_platform(platform)
    , m_editMenuTitles(std::move(editMenuTitles))
    , m_pasteMenuTitles(std::move(pasteMenuTitles))
{}

ClipboardInserter::~ClipboardInserter()
{
    // Quitting within a second of a paste must not leave the dictated text on the user's clipboard.
    if (m_pendingRestore) {
        const SavedClipboards state = *m_pendingRestore;
        restoreNow(state);
    }
}

ClipboardInserter::PasteKeys ClipboardInserter::pasteKeys(const std::optional<QString>& applicationId)
{
    if (applicationId && pastesWithShiftInsert(*applicationId))
        return {QStringLiteral("shift+Insert"), true};
    if (applicationId && isTerminal(*applicationId))
        return {QStringLiteral("ctrl+shift+v"), false};
    return {QStringLiteral("ctrl+v"), false};
}

std::optional<RunningApplication>
ClipboardInserter::resolveApplication(std::optional<qint64> processIdentifier) const
{
    if (processIdentifier)
        return m_platform.workspace->runningApplication(*processIdentifier);
    return m_platform.workspace->frontmostApplication();
}

void ClipboardInserter::typeText(const QString& text, std::optional<qint64> processIdentifier, Typed done)
{
    m_lastFailureReason.reset();
    if (text.isEmpty())
        return done(false, 0);
    if (!m_platform.keyboard->canPostEvents()) {
        m_lastFailureReason =
            QStringLiteral("Quenda does not currently have event-synthesizing access for simulated typing.");
        return done(false, 0);
    }
    if (processIdentifier)
        m_platform.workspace->activate(*processIdentifier);
    typeSlice(text, 0, done);
}

void ClipboardInserter::typeSlice(const QString& text, qsizetype from, const Typed& done)
{
    // A slice ends between two characters, never inside one.
    qsizetype end = std::min(text.size(), from + typingSliceLength);
    while (end < text.size() && !graphemes::isBoundary(text, end))
        ++end;
    switch (m_platform.keyboard->typeCharacters(text.mid(from, end - from))) {
    case KeyboardSynthesizer::Outcome::typed:
        break;
    case KeyboardSynthesizer::Outcome::noEventSource:
        m_lastFailureReason =
            QStringLiteral("Quenda could not create a keyboard event source for simulated typing.");
        return done(false, from);
    case KeyboardSynthesizer::Outcome::eventFailed:
        m_lastFailureReason =
            QStringLiteral("Quenda could not create a keyboard event for simulated typing.");
        return done(false, from);
    }
    if (end >= text.size())
        return done(true, text.size());
    std::weak_ptr<bool> alive = m_alive;
    m_platform.mainQueue->post([this, alive, text, end, done] {
        if (alive.lock())
            typeSlice(text, end, done);
    });
}

void ClipboardInserter::scheduleClipboardRestore(const SavedClipboards& state,
                                                 std::optional<PasteCheck> check)
{
    const quint64 generation = ++m_restoreGeneration;
    std::weak_ptr<bool> alive = m_alive;
    m_platform.mainQueue->postAfter(clipboardRestoreDelay, [this, alive, state, generation, check] {
        if (!alive.lock())
            return;
        // The check comes before the restore: until then the clipboard still holds the text.
        if (check)
            finishPasteCheck(*check);
        // A later paste took over the restore: it puts back the same user content, later.
        if (generation != m_restoreGeneration)
            return;
        restoreNow(state);
    });
}

void ClipboardInserter::restoreNow(const SavedClipboards& state)
{
    ++m_restoreGeneration;
    m_pendingRestore.reset();
    m_platform.clipboard->restore(state.clipboard);
    if (state.primary)
        m_platform.clipboard->restore(*state.primary, ClipboardSelection::primary);
}

std::optional<ClipboardInserter::PasteCheck>
ClipboardInserter::preparePasteCheck(const QString& text, std::optional<qint64> processIdentifier,
                                     PasteChecked checked)
{
    if (!checked)
        return std::nullopt;
    AccessibilityService& service = *m_platform.accessibility;
    ElementRef field = processIdentifier ? service.focusedElement(*processIdentifier) : nullptr;
    if (!field)
        field = service.systemFocusedElement();
    const std::optional<QString> before = field ? service.value(*field) : std::nullopt;
    // A field without readable text (a terminal, a canvas) cannot tell: the paste is trusted there.
    if (!before)
        return std::nullopt;
    return PasteCheck{field, *before, text, std::move(checked)};
}

void ClipboardInserter::finishPasteCheck(const PasteCheck& check)
{
    const std::optional<QString> after = m_platform.accessibility->value(*check.field);
    const bool arrived = after && occurrences(*after, check.text) > occurrences(check.before, check.text);
    if (!arrived)
        m_lastFailureReason = QStringLiteral("The pasted text did not arrive in the focused field.");
    check.checked(arrived);
}

bool ClipboardInserter::pasteText(const QString& text, std::optional<qint64> processIdentifier,
                                  PasteChecked checked)
{
    m_lastFailureReason.reset();
    if (text.isEmpty())
        return false;
    Clipboard& clipboard = *m_platform.clipboard;
    const auto application = resolveApplication(processIdentifier);
    const PasteKeys keys = pasteKeys(application ? application->bundleIdentifier : std::nullopt);
    // While an earlier paste's restore is pending the clipboard holds Quenda's own text: the user's
    // content is the snapshot that restore would put back. This paste takes that restore over.
    SavedClipboards state = m_pendingRestore ? *m_pendingRestore : SavedClipboards{clipboard.save(), {}};
    if (keys.pastesPrimary && !state.primary)
        state.primary = clipboard.save(ClipboardSelection::primary);
    m_pendingRestore = state;
    ++m_restoreGeneration;
    clipboard.setText(text);
    if (keys.pastesPrimary)
        clipboard.setText(text, ClipboardSelection::primary);
    if (processIdentifier)
        m_platform.workspace->activate(*processIdentifier);
    PasteAttempt attempt{state, preparePasteCheck(text, processIdentifier, checked), checked, keys,
                         processIdentifier};

    std::weak_ptr<bool> alive = m_alive;
    const bool pressing = pasteViaMenu(processIdentifier, [this, alive, attempt](bool pasted) {
        if (!alive.lock())
            return;
        if (pasted)
            scheduleClipboardRestore(attempt.state, attempt.check);
        else if (!pasteWithoutMenu(attempt) && attempt.checked)
            attempt.checked(false);
    });
    return pressing || pasteWithoutMenu(attempt);
}

bool ClipboardInserter::pasteWithoutMenu(const PasteAttempt& attempt)
{
    const std::optional<qint64> processIdentifier = attempt.processIdentifier;
    const double delay = processIdentifier ? pasteTriggerDelayWithTarget : pasteTriggerDelayWithoutTarget;
    if (const auto helperTarget = automationTarget(processIdentifier)) {
        // The helper gets the keys once the target has had time to come forward; should it fail, the
        // synthetic shortcut follows at once, and a paste that cannot be made at all is told as not arrived.
        std::weak_ptr<bool> alive = m_alive;
        m_platform.mainQueue->postAfter(delay, [this, alive, application = *helperTarget, attempt] {
            if (!alive.lock())
                return;
            m_platform.automation->sendKeys(
                attempt.keys.combination,
                [this, alive, application, attempt](const std::optional<QString>& error) {
                    if (!alive.lock())
                        return;
                    noteAutomationOutcome(application, error);
                    if (!error)
                        scheduleClipboardRestore(attempt.state, attempt.check);
                    else if (!pasteWithShortcut(attempt.keys, attempt.state, attempt.check, 0) &&
                             attempt.checked)
                        attempt.checked(false);
                });
        });
        return true;
    }
    return pasteWithShortcut(attempt.keys, attempt.state, attempt.check, delay);
}

bool ClipboardInserter::pasteWithShortcut(const PasteKeys& keys, const SavedClipboards& state,
                                          std::optional<PasteCheck> check, double delay)
{
    KeyboardSynthesizer& keyboard = *m_platform.keyboard;
    if (!keyboard.canPostEvents()) {
        restoreNow(state);
        if (!m_lastFailureReason)
            m_lastFailureReason =
                QStringLiteral("Quenda could not trigger the app's Paste command, and Linux has "
                               "not granted synthetic typing access.");
        return false;
    }
    if (!keyboard.canCreateShortcut(keys.combination)) {
        restoreNow(state);
        m_lastFailureReason =
            QStringLiteral("Quenda could not create the keyboard events needed for paste fallback.");
        return false;
    }
    std::weak_ptr<bool> alive = m_alive;
    m_platform.mainQueue->postAfter(delay, [this, alive, keys, state, check = std::move(check)] {
        if (!alive.lock())
            return;
        m_platform.keyboard->postShortcut(keys.combination);
        scheduleClipboardRestore(state, check);
    });
    return true;
}

bool ClipboardInserter::pasteViaMenu(std::optional<qint64> processIdentifier, const MenuPasted& done)
{
    AccessibilityService& service = *m_platform.accessibility;
    const auto application = resolveApplication(processIdentifier);
    const ElementRef appElement =
        application ? service.applicationElement(application->processIdentifier) : nullptr;
    if (!appElement) {
        m_lastFailureReason =
            QStringLiteral("Quenda could not resolve the target app for menu paste fallback.");
        return false;
    }
    const ElementRef menuBar = service.menuBar(*appElement);
    if (!menuBar) {
        m_lastFailureReason =
            QStringLiteral("The target app does not expose an accessible menu bar for paste fallback.");
        return false;
    }
    const ElementRef edit = findMenuElement(menuBar, m_editMenuTitles, 2);
    if (!edit) {
        m_lastFailureReason =
            QStringLiteral("The target app does not expose an accessible Edit menu for paste fallback.");
        return false;
    }
    if (const ElementRef paste = findPaste(edit, menuBar))
        return pressPaste(paste, done);
    // Some applications build a menu's items only once it has been opened; the search goes on once the
    // opening press has been answered, whatever its result.
    std::weak_ptr<bool> alive = m_alive;
    service.press(*edit, [this, alive, edit, menuBar, done](int) {
        if (!alive.lock())
            return;
        const ElementRef paste = findPaste(edit, menuBar);
        if (!paste)
            m_lastFailureReason =
                QStringLiteral("The target app does not expose an accessible Paste command.");
        if (!paste || !pressPaste(paste, done))
            done(false);
    });
    return true;
}

ElementRef ClipboardInserter::findPaste(const ElementRef& edit, const ElementRef& menuBar)
{
    ElementRef paste = findMenuElement(edit, m_pasteMenuTitles, 6);
    return paste ? paste : findMenuElement(menuBar, m_pasteMenuTitles, 8);
}

bool ClipboardInserter::pressPaste(const ElementRef& paste, const MenuPasted& done)
{
    if (m_platform.accessibility->isEnabled(*paste) == false) {
        m_lastFailureReason = QStringLiteral("The target app's Paste command is currently disabled.");
        return false;
    }
    std::weak_ptr<bool> alive = m_alive;
    m_platform.accessibility->press(*paste, [this, alive, done](int code) {
        if (!alive.lock())
            return;
        if (code != ax::success)
            m_lastFailureReason = QStringLiteral("Triggering the app's Paste command failed with %1.")
                                      .arg(AccessibilityInserter::describeAXError(code));
        done(code == ax::success);
    });
    return true;
}

ElementRef ClipboardInserter::findMenuElement(const ElementRef& element, const QStringList& titles, int depth)
{
    if (const auto title = m_platform.accessibility->title(*element)) {
        if (titles.contains(title->trimmed().toLower()))
            return element;
    }
    if (depth < 1)
        return nullptr;
    for (const ElementRef& child : menuChildren(*element)) {
        if (ElementRef hit = findMenuElement(child, titles, depth - 1))
            return hit;
    }
    return nullptr;
}

QList<ElementRef> ClipboardInserter::menuChildren(const AccessibleElement& element)
{
    AccessibilityService& service = *m_platform.accessibility;
    QList<ElementRef> result;
    if (auto children = service.children(element))
        result += *children;
    if (auto visible = service.visibleChildren(element))
        result += *visible;
    if (ElementRef shown = service.shownMenu(element))
        result.append(shown);
    return result;
}

std::optional<RunningApplication> ClipboardInserter::automationTarget(std::optional<qint64> processIdentifier)
{
    const auto application = resolveApplication(processIdentifier);
    if (!application) {
        m_lastFailureReason =
            QStringLiteral("Quenda could not resolve the target app for automation paste fallback.");
        return std::nullopt;
    }
    m_platform.workspace->activate(application->processIdentifier);
    if (!m_platform.automation) {
        m_lastFailureReason =
            QStringLiteral("Quenda could not create the automation script needed for paste fallback.");
        return std::nullopt;
    }
    return application;
}

void ClipboardInserter::noteAutomationOutcome(const RunningApplication& application,
                                              const std::optional<QString>& error)
{
    if (m_platform.defaults)
        m_platform.defaults->setBool(kAutomationGrantKey, !error.has_value());
    if (!error)
        return;
    QString app = application.localizedName;
    if (app.isEmpty())
        app = application.bundleIdentifier.value_or(QStringLiteral("the target app"));
    QString message = error->trimmed();
    if (message.isEmpty())
        message = QStringLiteral("the helper gave no reason.");
    m_lastFailureReason = QStringLiteral("Automation paste fallback failed for %1: %2").arg(app, message);
}

} // namespace quenda
