#pragma once

#include "base/DictationResult.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace quenda {

// One row of the tray menu, top to bottom.
struct TrayMenuRow {
    enum class Kind { Heading, Note, Recent, Warning, Command, Separator };
    enum class Command {
        None,
        CopyOrFlag, // a recent dictation: copy it, or flag it when it went through clean-up
        RetryHotkey,
        OpenStats,
        OpenDictionary,
        OpenSnippets,
        CheckForUpdates,
        OpenSettings,
        ReportProblem,
        Quit,
    };

    Kind kind = Kind::Separator;
    QString label;
    Command command = Command::None;
    bool enabled = true;
    QString iconName; // a freedesktop icon name, or empty
    QString shortcut; // a key sequence in portable text, or empty
    // A recent row's dictation: a click acts on what the row showed, even if the list has moved on since.
    std::optional<DictationResult> dictation;

    bool operator==(const TrayMenuRow&) const = default;
};

// What the tray menu shows and does: the recent dictations (copy or flag), the hotkey warning with its
// retry, the windows, the update check and quitting. State in, rows out; the tray widget only lays the rows
// out, and hands back the row the user picked.
class TrayMenuModel : public QObject {
    Q_OBJECT
public:
    static constexpr int recentLabelLength = 50;

    struct Actions {
        std::function<void(const QString& text)> copyToClipboard;
        std::function<void(const DictationResult& dictation)> flag; // sets the flagged dictation
        std::function<void()> retryHotkey;
        std::function<void(const QString& windowId)> openWindow;
        std::function<void()> checkForUpdates;
        std::function<void()> quit;
    };

    explicit TrayMenuModel(Actions actions, QObject* parent = nullptr);

    const QList<TrayMenuRow>& rows() const { return m_rows; }

    // The sources of the rows; each change rebuilds them.
    void setRecentDictations(const QList<DictationResult>& recent);
    void setHotkeyListening(bool listening);
    void setCanCheckForUpdates(bool canCheck);

    // Does what the row stands for.
    void trigger(const TrayMenuRow& row);

    // The rows for a state.
    static QList<TrayMenuRow> rowsFor(const QList<DictationResult>& recent, bool hotkeyListening,
                                      bool canCheckForUpdates);
    // A recent dictation as its row shows it: one line, at most 50 characters and then "…".
    static QString recentLabel(const QString& text);

Q_SIGNALS:
    void rowsChanged();

private:
    void rebuild();

    Actions m_actions;
    QList<DictationResult> m_recent;
    bool m_hotkeyListening = true;
    bool m_canCheckForUpdates = false;
    QList<TrayMenuRow> m_rows;
};

} // namespace quenda
