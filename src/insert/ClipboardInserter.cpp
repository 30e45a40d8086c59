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
} // namespace

ClipboardInserter::ClipboardInserter(const InsertionPlatform& platform, QStringList editMenuTitles,
                                     QStringList pasteMenuTitles)
    : m_platform(platform)
    , m_editMenuTitles(std::move(editMenuTitles))
    , m_pasteMenuTitles(std::move(pasteMenuTitles))
{}

ClipboardInserter::~ClipboardInserter() = default;

QString ClipboardInserter::pasteShortcut(const std::optional<QString>& applicationId)
{
    return applicationId && isTerminal(*applicationId) ? QStringLiteral("ctrl+shift+v")
                                                       : QStringLiteral("ctrl+v");
}

std::optional<RunningApplication>
ClipboardInserter::resolveApplication(std::optional<qint64> processIdentifier) const
{
    if (processIdentifier)
        return m_platform.workspace->runningApplication(*processIdentifier);
    return m_platform.workspace->frontmostApplication();
}

bool ClipboardInserter::typeText(const QString& text, std::optional<qint64> processIdentifier)
{
    m_lastFailureReason.reset();
    if (text.isEmpty())
        return false;
    KeyboardSynthesizer& keyboard = *m_platform.keyboard;
    if (!keyboard.canPostEvents()) {
        m_lastFailureReason =
            QStringLiteral("Quenda does not currently have event-synthesizing access for simulated typing.");
        return false;
    }
    if (processIdentifier)
        m_platform.workspace->activate(*processIdentifier);
    switch (keyboard.typeCharacters(text)) {
    case KeyboardSynthesizer::Outcome::typed:
        return true;
    case KeyboardSynthesizer::Outcome::noEventSource:
        m_lastFailureReason =
            QStringLiteral("Quenda could not create a keyboard event source for simulated typing.");
        return false;
    case KeyboardSynthesizer::Outcome::eventFailed:
        break;
    }
    m_lastFailureReason = QStringLiteral("Quenda could not create a keyboard event for simulated typing.");
    return false;
}

void ClipboardInserter::scheduleClipboardRestore(const ClipboardSnapshot& state)
{
    const quint64 generation = ++m_restoreGeneration;
    std::weak_ptr<bool> alive = m_alive;
    m_platform.mainQueue->postAfter(clipboardRestoreDelay, [this, alive, state, generation] {
        // A later paste took over the restore: it puts back the same user content, later.
        if (!alive.lock() || generation != m_restoreGeneration)
            return;
        m_pendingRestore.reset();
        m_platform.clipboard->restore(state);
    });
}

void ClipboardInserter::restoreNow(const ClipboardSnapshot& state)
{
    ++m_restoreGeneration;
    m_pendingRestore.reset();
    m_platform.clipboard->restore(state);
}

bool ClipboardInserter::pasteText(const QString& text, std::optional<qint64> processIdentifier)
{
    m_lastFailureReason.reset();
    if (text.isEmpty())
        return false;
    Clipboard& clipboard = *m_platform.clipboard;
    // While an earlier paste's restore is pending the clipboard holds Quenda's own text: the user's
    // content is the snapshot that restore would put back.
    const ClipboardSnapshot state = m_pendingRestore ? *m_pendingRestore : clipboard.save();
    m_pendingRestore = state;
    clipboard.setText(text);
    if (processIdentifier)
        m_platform.workspace->activate(*processIdentifier);

    if (pasteViaMenu(processIdentifier) || pasteViaAutomation(processIdentifier)) {
        scheduleClipboardRestore(state);
        return true;
    }

    KeyboardSynthesizer& keyboard = *m_platform.keyboard;
    if (!keyboard.canPostEvents()) {
        restoreNow(state);
        if (!m_lastFailureReason)
            m_lastFailureReason =
                QStringLiteral("Quenda could not trigger the app's Paste command, and Linux has "
                               "not granted synthetic typing access.");
        return false;
    }
    const auto application = resolveApplication(processIdentifier);
    const QString shortcut = pasteShortcut(application ? application->bundleIdentifier : std::nullopt);
    if (!keyboard.canCreateShortcut(shortcut)) {
        restoreNow(state);
        m_lastFailureReason =
            QStringLiteral("Quenda could not create the keyboard events needed for paste fallback.");
        return false;
    }
    const double delay = processIdentifier ? pasteTriggerDelayWithTarget : pasteTriggerDelayWithoutTarget;
    std::weak_ptr<bool> alive = m_alive;
    m_platform.mainQueue->postAfter(delay, [this, alive, shortcut, state] {
        if (!alive.lock())
            return;
        m_platform.keyboard->postShortcut(shortcut);
        scheduleClipboardRestore(state);
    });
    return true;
}

bool ClipboardInserter::pasteViaMenu(std::optional<qint64> processIdentifier)
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
    auto findPaste = [&] {
        ElementRef paste = findMenuElement(edit, m_pasteMenuTitles, 6);
        return paste ? paste : findMenuElement(menuBar, m_pasteMenuTitles, 8);
    };
    ElementRef paste = findPaste();
    if (!paste) {
        // Some applications build a menu's items only once it has been opened.
        service.press(*edit);
        paste = findPaste();
    }
    if (!paste) {
        m_lastFailureReason = QStringLiteral("The target app does not expose an accessible Paste command.");
        return false;
    }
    if (service.isEnabled(*paste) == false) {
        m_lastFailureReason = QStringLiteral("The target app's Paste command is currently disabled.");
        return false;
    }
    const int code = service.press(*paste);
    if (code == ax::success)
        return true;
    m_lastFailureReason = QStringLiteral("Triggering the app's Paste command failed with %1.")
                              .arg(AccessibilityInserter::describeAXError(code));
    return false;
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

bool ClipboardInserter::pasteViaAutomation(std::optional<qint64> processIdentifier)
{
    const auto application = resolveApplication(processIdentifier);
    if (!application) {
        m_lastFailureReason =
            QStringLiteral("Quenda could not resolve the target app for automation paste fallback.");
        return false;
    }
    m_platform.workspace->activate(application->processIdentifier);
    if (!m_platform.automation) {
        m_lastFailureReason =
            QStringLiteral("Quenda could not create the automation script needed for paste fallback.");
        return false;
    }
    if (m_platform.sleep)
        m_platform.sleep(processIdentifier ? pasteTriggerDelayWithTarget : pasteTriggerDelayWithoutTarget);
    const std::optional<QString> error =
        m_platform.automation->sendKeys(pasteShortcut(application->bundleIdentifier));
    if (m_platform.defaults)
        m_platform.defaults->setBool(kAutomationGrantKey, !error.has_value());
    if (!error)
        return true;
    QString app = application->localizedName;
    if (app.isEmpty())
        app = application->bundleIdentifier.value_or(QStringLiteral("the target app"));
    QString message = error->trimmed();
    if (message.isEmpty())
        message = QStringLiteral("the helper gave no reason.");
    m_lastFailureReason = QStringLiteral("Automation paste fallback failed for %1: %2").arg(app, message);
    return false;
}

} // namespace quenda
