#pragma once

#include <QCoreApplication>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace quenda {

// Every text whose words depend on the desktop Quenda runs on, in one table so the English can be reviewed
// in one place: key and modifier names as Linux users read them ("Ctrl+Alt+D"), the desktop's settings
// rather than another system's, "the keyring" for the secret store, the real name of the key that plays
// the Fn role, and the permission help that only makes sense on X11.
class Wording {
    Q_DECLARE_TR_FUNCTIONS(Wording)
public:
    // A shortcut in the desktop's form: modifiers in the order Ctrl, Alt, Shift, Super, then the key,
    // joined by "+" ("Ctrl+Alt+D"); the key alone when there are no modifiers.
    static QString shortcut(quint64 modifierFlags, const QString& keyName);
    // Keys whose name does not come from the keyboard layout (Return, Backspace, arrows, F1…).
    static std::optional<QString> fixedKeyName(quint16 keyCode);

    // Nouns.
    static QString desktopSettings(); // "your desktop's settings"
    static QString keyring();         // "the keyring"

    // The hotkey recorder's refusals.
    static QString addModifierError();
    static QString shiftWithLetterError();
    // The recorder's hint under the row.
    static QString holdHint(const QString& hotkey);
    static QString toggleHint(const QString& hotkey);

    // Settings.
    static QString listenerCaption();
    static QString permissionsStuckCaption();
    static QString automationCaption();
    static QString eventPostingCaption();
    static QString permissionsResetMessage();
    static QString groqKeyCaption();
    static QString keySaved(bool inKeyring);

    // Onboarding, naming the key that plays the Fn role.
    static QString holdToDictateFeature(const QString& fnKeyName);
    static QString inputMonitoringReason(const QString& fnKeyName);

    // What to do when a permission cannot be granted from Quenda and the desktop has no settings page for it.
    enum class Permission { microphone, speechRecognition, accessibility, inputMonitoring, automation };
    static QString permissionHelp(Permission permission);

    // The operating system as the problem report names it ("Debian GNU/Linux 12 (bookworm)").
    static QString operatingSystem();
};

} // namespace quenda
