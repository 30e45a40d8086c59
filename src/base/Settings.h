#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <span>

namespace quenda {

enum class SettingType { boolean, integer, number, text, data };

// One key of the settings file: its name, the type it is stored as, its value when absent (as
// `quenda config` shows it), and whether it is a secret, which lives in the keyring and never in the file.
struct SettingKey {
    const char* name;
    SettingType type;
    const char* defaultText = nullptr; // null: no default, absent reads as absent
    bool secret = false;
    const char* choices = nullptr; // "a|b|c": a text with a fixed set of values

    QString key() const { return QString::fromLatin1(name); }
};

// Every key the system stores, in one place: the components name their keys from here, and the command line
// lists and validates against it.
namespace settings {
// The global hotkey.
inline constexpr SettingKey hotkeyKeyCode{"hotkeyKeyCode", SettingType::integer, "63"};
inline constexpr SettingKey hotkeyModifiers{"hotkeyModifiers", SettingType::integer, "0"};
// The user's word corrections and snippets: JSON stored as bytes.
inline constexpr SettingKey personalDictionary{"personalDictionary", SettingType::data};
inline constexpr SettingKey personalDictionaryCorrectionCounts{"personalDictionaryCorrectionCounts",
                                                               SettingType::data};
inline constexpr SettingKey snippets{"snippets", SettingType::data};
// The clean-up: the user's Groq key (a secret), the backend's origin, another chat-completions server.
inline constexpr SettingKey groqApiKey{"groq_api_key", SettingType::text, nullptr, true};
inline constexpr SettingKey backendHost{"quenda_api_host", SettingType::text, "https://api.quenda.app"};
inline constexpr SettingKey chatCompletionsURL{"chatCompletionsURL", SettingType::text};
inline constexpr SettingKey chatModel{"chatModel", SettingType::text, "llama-3.3-70b-versatile"};
// Speech recognition.
inline constexpr SettingKey speechEngine{"speechEngine", SettingType::text, "pocketsphinx", false,
                                         "pocketsphinx|whisper|endpoint"};
inline constexpr SettingKey transcriptionURL{"transcriptionURL", SettingType::text};
inline constexpr SettingKey transcriptionModel{"transcriptionModel", SettingType::text};
inline constexpr SettingKey whisperModelPath{"whisperModelPath", SettingType::text};
inline constexpr SettingKey whisperModelURL{"whisperModelURL", SettingType::text};
// Permissions: the automation probe's last outcome and the prompts already shown.
inline constexpr SettingKey automationGranted{"permissions.granted.automation.systemEvents",
                                              SettingType::boolean, "false"};
inline constexpr SettingKey accessibilityPrompted{"permissions.prompted.accessibility", SettingType::boolean,
                                                  "false"};
inline constexpr SettingKey inputMonitoringPrompted{"permissions.prompted.inputMonitoring",
                                                    SettingType::boolean, "false"};
// Start-up.
inline constexpr SettingKey hasCompletedOnboarding{"hasCompletedOnboarding", SettingType::boolean, "false"};
inline constexpr SettingKey entitlementsMigration{"entitlementsMigration_0_3_17", SettingType::boolean,
                                                  "false"};
inline constexpr SettingKey permissionsWereReset{"permissionsWereReset", SettingType::boolean, "false"};
// The user and the application.
inline constexpr SettingKey userName{"userName", SettingType::text};
inline constexpr SettingKey userEmail{"userEmail", SettingType::text};
inline constexpr SettingKey devMode{"devMode", SettingType::boolean, "false"};
inline constexpr SettingKey automaticUpdateChecks{"SUEnableAutomaticChecks", SettingType::boolean, "false"};
inline constexpr SettingKey updateFeedURL{"updateFeedURL", SettingType::text};
inline constexpr SettingKey lastUpdateCheckTime{"lastUpdateCheckTime", SettingType::text};

// Every key, in the order above.
std::span<const SettingKey> all();
// The registered key of that name, or null.
const SettingKey* find(const QString& name);
QString typeName(SettingType type);
QStringList choices(const SettingKey& key);
// The text as the key's value ("yes" for a boolean, digits for an integer, JSON for data, one of the
// choices); nothing when it is not one, with the reason in `problem`.
std::optional<QVariant> parse(const SettingKey& key, const QString& text, QString* problem = nullptr);
} // namespace settings

} // namespace quenda
