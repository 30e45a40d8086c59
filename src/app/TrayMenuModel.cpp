#include "app/TrayMenuModel.h"

#include "text/Graphemes.h"

namespace quenda {

namespace {
using Kind = TrayMenuRow::Kind;
using Command = TrayMenuRow::Command;

TrayMenuRow command(const QString& label, Command command, bool enabled = true, const QString& shortcut = {})
{
    return TrayMenuRow{Kind::Command, label, command, enabled, {}, shortcut, std::nullopt};
}

TrayMenuRow separator()
{
    return TrayMenuRow{};
}
} // namespace

TrayMenuModel::TrayMenuModel(Actions actions, QObject* parent)
    : QObject(parent)
    , m_actions(std::move(actions))
{
    rebuild();
}

QString TrayMenuModel::recentLabel(const QString& text)
{
    // A menu row is one line: line breaks and tabs become spaces.
    QString line = text;
    for (QChar& c : line)
        if (c == u'\n' || c == u'\r' || c == u'\t')
            c = u' ';
    if (graphemes::count(line) <= recentLabelLength)
        return line;
    return graphemes::prefix(line, recentLabelLength) + QStringLiteral("…");
}

QList<TrayMenuRow> TrayMenuModel::rowsFor(const QList<DictationResult>& recent, bool hotkeyListening,
                                          bool canCheckForUpdates)
{
    QList<TrayMenuRow> rows;
    rows.append({Kind::Heading, tr("Recent"), Command::None, false, {}, {}, std::nullopt});
    if (recent.isEmpty())
        rows.append({Kind::Note, tr("No recent dictations"), Command::None, false, {}, {}, std::nullopt});
    for (const DictationResult& dictation : recent) {
        const bool cleanedUp = dictation.rawTranscript.has_value();
        rows.append({Kind::Recent,
                     recentLabel(dictation.text),
                     Command::CopyOrFlag,
                     true,
                     cleanedUp ? QStringLiteral("flag") : QStringLiteral("edit-copy"),
                     {},
                     dictation});
    }
    rows.append(separator());
    if (!hotkeyListening) {
        rows.append({Kind::Warning,
                     tr("Hotkey not listening"),
                     Command::None,
                     false,
                     QStringLiteral("dialog-error"),
                     {},
                     std::nullopt});
        rows.append(command(tr("Retry Hotkey"), Command::RetryHotkey));
        rows.append(separator());
    }
    rows.append(command(tr("Stats..."), Command::OpenStats));
    rows.append(command(tr("Dictionary..."), Command::OpenDictionary));
    rows.append(command(tr("Snippets..."), Command::OpenSnippets));
    rows.append(command(tr("Check for Updates..."), Command::CheckForUpdates, canCheckForUpdates));
    rows.append(command(tr("Settings..."), Command::OpenSettings));
    rows.append(command(tr("Report a Problem..."), Command::ReportProblem));
    rows.append(separator());
    rows.append(command(tr("Quit Quenda"), Command::Quit, true, QStringLiteral("Ctrl+Q")));
    return rows;
}

void TrayMenuModel::setRecentDictations(const QList<DictationResult>& recent)
{
    m_recent = recent;
    rebuild();
}

void TrayMenuModel::setHotkeyListening(bool listening)
{
    m_hotkeyListening = listening;
    rebuild();
}

void TrayMenuModel::setCanCheckForUpdates(bool canCheck)
{
    m_canCheckForUpdates = canCheck;
    rebuild();
}

void TrayMenuModel::rebuild()
{
    QList<TrayMenuRow> rows = rowsFor(m_recent, m_hotkeyListening, m_canCheckForUpdates);
    if (rows == m_rows)
        return;
    m_rows = std::move(rows);
    Q_EMIT rowsChanged();
}

void TrayMenuModel::trigger(const TrayMenuRow& row)
{
    switch (row.command) {
    case Command::CopyOrFlag: {
        if (!row.dictation)
            return;
        const DictationResult& dictation = *row.dictation;
        if (dictation.rawTranscript) {
            m_actions.flag(dictation);
            m_actions.openWindow(QStringLiteral("feedback"));
        } else {
            m_actions.copyToClipboard(dictation.text);
        }
        return;
    }
    case Command::RetryHotkey:
        return m_actions.retryHotkey();
    case Command::OpenStats:
        return m_actions.openWindow(QStringLiteral("stats"));
    case Command::OpenDictionary:
        return m_actions.openWindow(QStringLiteral("dictionary"));
    case Command::OpenSnippets:
        return m_actions.openWindow(QStringLiteral("snippets"));
    case Command::CheckForUpdates:
        if (m_canCheckForUpdates)
            m_actions.checkForUpdates();
        return;
    case Command::OpenSettings:
        return m_actions.openWindow(QStringLiteral("settings"));
    case Command::ReportProblem:
        return m_actions.openWindow(QStringLiteral("report-problem"));
    case Command::Quit:
        return m_actions.quit();
    case Command::None:
        return;
    }
}

} // namespace quenda
