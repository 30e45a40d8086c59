#include "app/TrayMenuModel.h"

#include <QTest>

using namespace quenda;

namespace {
DictationResult dictation(const QString& text, std::optional<QString> raw = std::nullopt)
{
    return DictationResult{text, true, QDateTime::fromSecsSinceEpoch(1000), std::move(raw)};
}

// The menu as a line: rows joined by " | ", "-" for a separator, "(off)" after a disabled command, the
// shortcut in brackets, the icon name before a recent row.
QString describe(const QList<TrayMenuRow>& rows)
{
    QStringList parts;
    for (const TrayMenuRow& row : rows) {
        if (row.kind == TrayMenuRow::Kind::Separator) {
            parts << QStringLiteral("-");
            continue;
        }
        QString part =
            row.kind == TrayMenuRow::Kind::Recent ? row.iconName + QLatin1Char(':') + row.label : row.label;
        if (row.kind == TrayMenuRow::Kind::Command && !row.enabled)
            part += QStringLiteral(" (off)");
        if (!row.shortcut.isEmpty())
            part += QStringLiteral(" [") + row.shortcut + QLatin1Char(']');
        parts << part;
    }
    return parts.join(QStringLiteral(" | "));
}
} // namespace

class TestTrayMenuModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rows_data();
    void rows();
    void recentLabel_data();
    void recentLabel();
    void rowsDoWhatTheySay();
};

void TestTrayMenuModel::rows_data()
{
    QTest::addColumn<QList<DictationResult>>("recent");
    QTest::addColumn<bool>("hotkeyListening");
    QTest::addColumn<bool>("canCheck");
    QTest::addColumn<QString>("menu");
    const QString windows = QStringLiteral("Stats... | Dictionary... | Snippets... | Check for Updates...");
    const QString tail = QStringLiteral(" | Settings... | Report a Problem... | - | Quit Quenda [Ctrl+Q]");
    QTest::newRow("nothing yet") << QList<DictationResult>() << true << false
                                 << QStringLiteral("Recent | No recent dictations | - | ") + windows +
                                        QStringLiteral(" (off)") + tail;
    QTest::newRow("recent, newest first, updates possible")
        << QList<DictationResult>{dictation(QStringLiteral("cleaned"), QStringLiteral("raw")),
                                  dictation(QStringLiteral("as heard"))}
        << true << true
        << QStringLiteral("Recent | flag:cleaned | edit-copy:as heard | - | ") + windows + tail;
    QTest::newRow("hotkey not listening")
        << QList<DictationResult>() << false << true
        << QStringLiteral("Recent | No recent dictations | - | Hotkey not listening | Retry Hotkey | - | ") +
               windows + tail;
}

void TestTrayMenuModel::rows()
{
    QFETCH(QList<DictationResult>, recent);
    QFETCH(bool, hotkeyListening);
    QFETCH(bool, canCheck);
    QFETCH(QString, menu);
    QCOMPARE(describe(TrayMenuModel::rowsFor(recent, hotkeyListening, canCheck)), menu);
}

void TestTrayMenuModel::recentLabel_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("label");
    const QString fifty = QStringLiteral("x").repeated(50);
    QTest::newRow("50 characters whole") << fifty << fifty;
    QTest::newRow("51 cut to 50 and an ellipsis")
        << fifty + QStringLiteral("y") << fifty + QStringLiteral("…");
    QTest::newRow("characters, not UTF-16 units")
        << QStringLiteral("👍🏽").repeated(50) << QStringLiteral("👍🏽").repeated(50);
    QTest::newRow("one line") << QStringLiteral("Dear Ann,\n\tthanks") << QStringLiteral("Dear Ann,  thanks");
}

void TestTrayMenuModel::recentLabel()
{
    QFETCH(QString, text);
    QFETCH(QString, label);
    QCOMPARE(TrayMenuModel::recentLabel(text), label);
}

void TestTrayMenuModel::rowsDoWhatTheySay()
{
    QStringList done;
    TrayMenuModel::Actions actions;
    actions.copyToClipboard = [&](const QString& text) { done << QStringLiteral("copy ") + text; };
    actions.flag = [&](const DictationResult& d) { done << QStringLiteral("flag ") + d.text; };
    actions.retryHotkey = [&] { done << QStringLiteral("retry"); };
    actions.openWindow = [&](const QString& id) { done << QStringLiteral("open ") + id; };
    actions.checkForUpdates = [&] { done << QStringLiteral("check"); };
    actions.quit = [&] { done << QStringLiteral("quit"); };
    TrayMenuModel model(actions);
    model.setHotkeyListening(false);
    model.setRecentDictations(
        {dictation(QStringLiteral("cleaned"), QStringLiteral("raw")), dictation(QStringLiteral("plain"))});
    const QList<TrayMenuRow> shown = model.rows();
    // A newer dictation arrives while the menu is open: the rows shown still act on what they showed.
    model.setRecentDictations({dictation(QStringLiteral("newest")), dictation(QStringLiteral("cleaned"))});
    for (const TrayMenuRow& row : shown)
        model.trigger(row); // "Check for Updates..." is off, so it does nothing
    QCOMPARE(done.join(QStringLiteral(", ")),
             QStringLiteral("flag cleaned, open feedback, copy plain, retry, open stats, open dictionary, "
                            "open snippets, open settings, open report-problem, quit"));
    done.clear();
    model.setCanCheckForUpdates(true);
    for (const TrayMenuRow& row : model.rows())
        if (row.command == TrayMenuRow::Command::CheckForUpdates)
            model.trigger(row);
    QCOMPARE(done, QStringList{QStringLiteral("check")});
}

QTEST_GUILESS_MAIN(TestTrayMenuModel)
#include "tst_traymenumodel.moc"
