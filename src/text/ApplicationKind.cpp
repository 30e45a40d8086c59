#include "text/ApplicationKind.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

namespace quenda {

namespace {

using Kind = ApplicationKind;

// Names that identify an application wherever they stand in its id, as one part of it.
const QHash<QString, Kind>& partNames()
{
    static const QHash<QString, Kind> names = [] {
        QHash<QString, Kind> table;
        auto add = [&table](Kind kind, std::initializer_list<const char*> list) {
            for (const char* name : list)
                table.insert(QLatin1String(name), kind);
        };
        add(Kind::slack, {"slack"});
        add(Kind::email, {"mail", "evolution", "thunderbird", "betterbird", "geary", "mailspring", "kmail",
                          "kmail2", "claws", "sylpheed", "trojita", "balsa", "mailviewer"});
        add(Kind::chat, {"element",
                         "riot",
                         "signal",
                         "discord",
                         "discordapp",
                         "telegram",
                         "telegramdesktop",
                         "whatsapp",
                         "whatsappdesktop",
                         "zapzap",
                         "whatsie",
                         "fractal",
                         "neochat",
                         "nheko",
                         "polari",
                         "hexchat",
                         "pidgin",
                         "gajim",
                         "dino",
                         "konversation",
                         "quassel",
                         "teams",
                         "zulip",
                         "mattermost",
                         "rocketchat",
                         "skype",
                         "skypeforlinux",
                         "wiredesktop",
                         "threema",
                         "viber",
                         "beeper",
                         "ferdium",
                         "franz",
                         "rambox",
                         "vesktop",
                         "webcord",
                         "armcord",
                         "caprine",
                         "messenger",
                         "messages",
                         "chatterino"});
        add(Kind::codeEditor,
            {"code",        "vscode",    "vscodium", "codium",     "cursor",    "zed",       "sublime",
             "sublimetext", "jetbrains", "idea",     "intellij",   "pycharm",   "clion",     "goland",
             "webstorm",    "rider",     "phpstorm", "rubymine",   "rustrover", "emacs",     "gvim",
             "nvim",        "neovide",   "kate",     "geany",      "kdevelop",  "qtcreator", "lapce",
             "pulsar",      "eclipse",   "netbeans", "codeblocks", "bluefish"});
        add(Kind::terminal,
            {"terminal", "terminator", "konsole", "kitty",    "alacritty",   "xterm",      "uxterm",
             "urxvt",    "rxvt",       "tilix",   "foot",     "footclient",  "wezterm",    "ghostty",
             "kgx",      "console",    "ptyxis",  "blackbox", "terminology", "lxterminal", "qterminal",
             "sakura",   "guake",      "tilda",   "yakuake",  "contour",     "warp",       "iterm"});
        add(Kind::notes, {"obsidian", "notion", "joplin", "logseq", "zettlr", "simplenote", "notesnook",
                          "bijiben", "ghostwriter", "marktext", "typora", "apostrophe", "trilium", "anytype",
                          "affine", "writer", "abiword", "docs"});
        add(Kind::projectManagement, {"linear", "jira", "asana", "planify", "endeavour", "todoist", "trello",
                                      "clickup", "taiga", "youtrack", "focalboard"});
        return table;
    }();
    return names;
}

// Ids that only mean an application as a whole: their parts alone are too common.
const QHash<QString, Kind>& wholeNames()
{
    static const QHash<QString, Kind> names = {
        {QStringLiteral("st"), Kind::terminal},
        {QStringLiteral("st-256color"), Kind::terminal},
        {QStringLiteral("cool-retro-term"), Kind::terminal},
        {QStringLiteral("org.gnome.builder"), Kind::codeEditor},
        {QStringLiteral("gnome-builder"), Kind::codeEditor},
        {QStringLiteral("android-studio"), Kind::codeEditor},
        {QStringLiteral("lite-xl"), Kind::codeEditor},
        {QStringLiteral("standard-notes"), Kind::notes},
        {QStringLiteral("org.gnome.notes"), Kind::notes},
        {QStringLiteral("org.gnome.todo"), Kind::projectManagement},
    };
    return names;
}

} // namespace

ApplicationKind applicationKind(const QString& applicationId)
{
    const QString id = applicationId.trimmed().toLower();
    if (const auto whole = wholeNames().constFind(id); whole != wholeNames().cend())
        return *whole;
    static const QRegularExpression separators(QStringLiteral("[.\\-_ /]+"));
    const QStringList parts = id.split(separators, Qt::SkipEmptyParts);
    // The last part of a reverse-DNS id is the application's own name: it decides before the vendor's.
    for (auto part = parts.crbegin(); part != parts.crend(); ++part) {
        if (const auto found = partNames().constFind(*part); found != partNames().cend())
            return *found;
    }
    return ApplicationKind::other;
}

} // namespace quenda
