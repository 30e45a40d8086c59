// The pill on a real desktop: while it shows, changes and fades, the window the user dictates into stays the
// active window and its field keeps the keyboard focus, as the window manager and the accessibility bus see
// it, and typed keys still land in that field.
#include "DesktopRig.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/X11Connection.h"

#include <QProcess>
#include <QTest>

using namespace quenda;

namespace {
QByteArray pillCommand(const QByteArray& command, const QByteArray& state, float level, const QString& text)
{
    return command + ' ' + state + ' ' + QByteArray::number(level) + ' ' + text.toUtf8().toBase64();
}
} // namespace

class TestFloatingPillDesktop : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void focusStaysWithTheFieldWhileThePillShows();

private:
    // The active window and the text of the focused accessible, as the desktop reports them now.
    QString desktopFocus()
    {
        const auto active = m_x11.cardinals(m_x11.root(), "_NET_ACTIVE_WINDOW", "WINDOW");
        const ElementRef focused = m_accessibility.systemFocusedElement();
        const std::optional<QString> text = focused ? m_accessibility.value(*focused) : std::nullopt;
        return QStringLiteral("window %1, field \"%2\"")
            .arg(active && !active->isEmpty() ? active->first() : 0)
            .arg(text.value_or(QStringLiteral("<none>")));
    }

    X11Connection m_x11;
    AtspiAccessibility m_accessibility;
};

void TestFloatingPillDesktop::focusStaysWithTheFieldWhileThePillShows()
{
    QVERIFY(m_x11.isOpen());
    FixtureProcess editor;
    QVERIFY(editor.start(QStringLiteral(QUENDA_FIXTURE_EDITOR), {}));
    QVERIFY(editor.set("line", QStringLiteral("dictating here")));
    QVERIFY(editor.ok("focus line"));
    QVERIFY(editor.ok("activate"));
    QVERIFY(desktop::activateWindowNamed(QStringLiteral("Quenda fixture")));
    // The field's focus and the window manager's active window arrive separately.
    QTRY_VERIFY(desktopFocus().endsWith(QStringLiteral("field \"dictating here\"")) &&
                !desktopFocus().startsWith(QStringLiteral("window 0,")));
    const QString before = desktopFocus();

    FixtureProcess pill;
    QVERIFY(pill.start(QStringLiteral(QUENDA_PILL_DRIVER), {}));
    for (const bool compositing : {false, true}) {
        QVERIFY(pill.ok(compositing ? "compositing on" : "compositing off"));
        QVERIFY(pill.ok(pillCommand("show", "listening", 0, QString())));
        QVERIFY(pill.command("where").endsWith("visible"));
        QTest::qWait(200); // time for a window manager to react, were it going to
        QCOMPARE(desktopFocus(), before);
        for (int i = 1; i <= 5; ++i) {
            QVERIFY(pill.ok(pillCommand("refresh", "listening", i / 5.0f,
                                        QStringLiteral("so this is what I say ").repeated(i * 2))));
            QCOMPARE(desktopFocus(), before);
        }
        QVERIFY(pill.ok(pillCommand("refresh", "processing", 0, QStringLiteral("done"))));
        QVERIFY(pill.ok("fade 0.3"));
        QCOMPARE(desktopFocus(), before);
        QTRY_VERIFY(pill.command("where").endsWith("hidden"));
        QCOMPARE(desktopFocus(), before);
    }

    // Keys still go to the field, with the pill up.
    QVERIFY(pill.ok(pillCommand("show", "listening", 0.5f, QStringLiteral("typing"))));
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("!")}), 0);
    QTRY_COMPARE(editor.get("line"), QStringLiteral("dictating here!"));
    QTRY_COMPARE(desktopFocus(), before.chopped(1) + QStringLiteral("!\""));
}

QTEST_GUILESS_MAIN(TestFloatingPillDesktop)
#include "tst_floatingpill_desktop.moc"
