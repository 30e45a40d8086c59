#include "base/Wording.h"

#include "platform/HotkeyEventSource.h"

#include <QHash>
#include <QStringList>
#include <QSysInfo>

namespace quenda {

QString Wording::shortcut(quint64 modifierFlags, const QString& keyName)
{
    QStringList parts;
    if (modifierFlags & ModifierFlag::Control)
        parts << tr("Ctrl");
    if (modifierFlags & ModifierFlag::Option)
        parts << tr("Alt");
    if (modifierFlags & ModifierFlag::Shift)
        parts << tr("Shift");
    if (modifierFlags & ModifierFlag::Command)
        parts << tr("Super");
    parts << keyName;
    return parts.join(QLatin1Char('+'));
}

std::optional<QString> Wording::fixedKeyName(quint16 keyCode)
{
    static const QHash<quint16, const char*> names{
        {36, QT_TR_NOOP("Return")},
        {48, QT_TR_NOOP("Tab")},
        {49, QT_TR_NOOP("Space")},
        {51, QT_TR_NOOP("Backspace")},
        {53, QT_TR_NOOP("Escape")},
        {117, QT_TR_NOOP("Delete")},
        {123, QT_TR_NOOP("Left")},
        {124, QT_TR_NOOP("Right")},
        {125, QT_TR_NOOP("Down")},
        {126, QT_TR_NOOP("Up")},
        {115, QT_TR_NOOP("Home")},
        {119, QT_TR_NOOP("End")},
        {116, QT_TR_NOOP("Page Up")},
        {121, QT_TR_NOOP("Page Down")},
        {122, "F1"},
        {120, "F2"},
        {99, "F3"},
        {118, "F4"},
        {96, "F5"},
        {97, "F6"},
        {98, "F7"},
        {100, "F8"},
        {101, "F9"},
        {109, "F10"},
        {103, "F11"},
        {111, "F12"},
        {105, "F13"},
        {107, "F14"},
        {113, "F15"},
    };
    const auto found = names.constFind(keyCode);
    if (found == names.constEnd())
        return std::nullopt;
    return tr(*found);
}

QString Wording::desktopSettings()
{
    return tr("your desktop's settings");
}

QString Wording::keyring()
{
    return tr("the keyring");
}

QString Wording::addModifierError()
{
    return tr("Add a modifier (Super, Alt, Shift, Ctrl) with that key, or use an F-key.");
}

QString Wording::shiftWithLetterError()
{
    return tr("Use Super, Alt, or Ctrl with letter/number keys.");
}

QString Wording::holdHint(const QString& hotkey)
{
    return tr("Hold %1 to dictate").arg(hotkey);
}

QString Wording::toggleHint(const QString& hotkey)
{
    return tr("Press %1 to start/stop dictation").arg(hotkey);
}

QString Wording::listenerCaption()
{
    // X11 asks no one's leave to watch the keyboard: what can stop the listener is the display itself.
    return tr("If Accessibility is already enabled, check that your desktop runs an X11 session whose server "
              "offers the XInput 2 extension (Input Monitoring).");
}

QString Wording::permissionsStuckCaption()
{
    return tr("If permissions appear stuck (toggles are ON in your desktop's settings but Quenda doesn't "
              "detect them), click Reset Permissions. This clears stale entries so your desktop will "
              "re-prompt you.");
}

QString Wording::automationCaption()
{
    return tr(
        "Automation lets Quenda ask xdotool to paste when an app does not expose a writable text field.");
}

QString Wording::eventPostingCaption()
{
    return tr("Your desktop does not show a separate Event Posting toggle. Quenda types through the X "
              "server's XTEST extension.");
}

QString Wording::permissionsResetMessage()
{
    return tr("Permissions have been cleared. Quenda needs to restart so your desktop can re-prompt you for "
              "each permission.");
}

QString Wording::groqKeyCaption()
{
    return tr(
        "Get a free key from the Groq console (console.groq.com). It is stored in the keyring and never "
        "leaves your device.");
}

QString Wording::keySaved(bool inKeyring)
{
    // Without a Secret Service the key goes to a file only the user can read; say so rather than pretend.
    return inKeyring ? tr("Saved to the keyring")
                     : tr("Saved to a file only you can read (no keyring answered)");
}

QString Wording::holdToDictateFeature(const QString& fnKeyName)
{
    return tr("Hold %1 to dictate into any app").arg(fnKeyName);
}

QString Wording::inputMonitoringReason(const QString& fnKeyName)
{
    return tr("Detects the %1 key for push-to-talk").arg(fnKeyName);
}

QString Wording::permissionHelp(Permission permission)
{
    switch (permission) {
    case Permission::microphone:
        return tr(
            "Quenda found no microphone. Connect one, or choose an input device in your desktop's sound "
            "settings.");
    case Permission::speechRecognition:
        return tr(
            "No speech engine is ready. Install the speech model (sudo apt install pocketsphinx-en-us), "
            "or name a transcription service: quenda config set speechEngine endpoint.");
    case Permission::accessibility:
        return tr(
            "Your desktop's accessibility bus did not answer. Install at-spi2-core, then log out and in "
            "again.");
    case Permission::inputMonitoring:
        return tr("This display does not offer the XInput 2 extension, so Quenda cannot hear the hotkey. Log "
                  "in to an X11 session.");
    case Permission::automation:
        return tr("Install xdotool (sudo apt install xdotool) for the paste fallback.");
    }
    return {};
}

QString Wording::operatingSystem()
{
    return QSysInfo::prettyProductName();
}

} // namespace quenda
