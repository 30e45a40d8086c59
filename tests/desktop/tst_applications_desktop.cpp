// The insertion chain and the desktop commands against applications nobody on this project wrote, each
// started once in the private session: LibreOffice Writer, mousepad, xterm, Firefox ESR and Chromium (the
// browsers also on a Russian layout).
// What arrived is read independently of Quenda's own read-back where the application allows: the browsers'
// page posts its text area back when Enter is pressed, xterm runs a program that writes what it receives
// to a file.
#include "BrowserPage.h"
#include "DesktopRig.h"
#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "insert/TextInserter.h"
#include "platform/linux/LinuxInsertionServices.h"
#include "text/Graphemes.h"

#include <QDir>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>

using namespace quenda;

namespace {

const QString kAscii = QStringLiteral("Send the report to Anna by Friday, please. ");
// The emoji makes the second insertion land after a character that applications count differently.
const QString kAccented = QString::fromUtf8("Crème brûlée, naïve façade, Grüße aus Köln 😀 ");
const QString kRussian = QString::fromUtf8("Съешь же ещё этих мягких французских булок, да выпей чаю. ");

enum class Readback { accessibility, page, file };

struct Application {
    Application(QString n, QString c, Readback r)
        : name(std::move(n))
        , windowClass(std::move(c))
        , readback(r)
    {}
    QString name;
    QString windowClass;
    Readback readback;
    std::unique_ptr<QProcess> process;
    std::unique_ptr<BrowserPage> browser;
    QString skipReason;
    qint64 pid = 0;     // the process that owns the window (a launcher script may have started it)
    QString outputFile; // xterm: what the program in the terminal received
    qint64 consumed = 0;
};

// A short tool's output, without its last newline.
QString tool(const QString& program, const QStringList& arguments)
{
    QString output = desktop::run(program, arguments, 10000).out;
    if (output.endsWith(QLatin1Char('\n')))
        output.chop(1);
    return output;
}

} // namespace

class TestApplicationsDesktop : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    UserDefaults m_defaults{m_dir.filePath(QStringLiteral("Quenda.conf"))};
    QtScheduler m_mainQueue;
    std::unique_ptr<LinuxInsertionServices> m_services;
    std::unique_ptr<TextInserter> m_inserter;
    QStringList m_lines;
    FixtureProcess m_clipboardOwner;
    QStringList m_userClipboard;
    QList<Application*> m_applications;
    Application m_writer{QStringLiteral("LibreOffice Writer"), QStringLiteral("libreoffice-writer"),
                         Readback::accessibility};
    Application m_mousepad{QStringLiteral("mousepad"), QStringLiteral("Mousepad"), Readback::accessibility};
    Application m_xterm{QStringLiteral("xterm"), QStringLiteral("XTerm"), Readback::file};
    Application m_firefox{QStringLiteral("Firefox ESR"), QStringLiteral("firefox-esr"), Readback::page};
    Application m_chromium{QStringLiteral("Chromium"), QStringLiteral("chromium"), Readback::page};

    Application* application(const QString& name)
    {
        for (Application* a : std::as_const(m_applications))
            if (a->name == name)
                return a;
        return nullptr;
    }

    void launch(Application& app, const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        m_applications << &app;
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            app.skipReason =
                QStringLiteral("%1 is not installed (scripts/install-deps.sh installs it)").arg(program);
            return;
        }
        app.process = std::make_unique<QProcess>();
        app.process->setProcessEnvironment(environment);
        app.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.process->setStandardOutputFile(QProcess::nullDevice());
        app.process->start(program, arguments);
    }

    // Waits for the application's window; its owner is the process to target.
    void awaitWindow(Application& app)
    {
        if (!app.skipReason.isEmpty())
            return;
        const auto shown = [&] {
            const QStringList windows =
                tool(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                 QStringLiteral("--class"), app.windowClass})
                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            for (const QString& window : windows)
                if ((app.pid = tool(QStringLiteral("xdotool"), {QStringLiteral("getwindowpid"), window})
                                   .toLongLong()) > 0)
                    return true;
            QTest::qWait(250);
            return false;
        };
        if (!QTest::qWaitFor(shown, 60000))
            app.skipReason = QStringLiteral("%1 showed no window within 60 s").arg(app.name);
    }

    bool bringForward(const Application& app) { return ::bringForward(m_services->workspace(), app.pid); }

    // What the application's field holds now, read without Quenda where the application allows.
    QString contents(Application& app)
    {
        switch (app.readback) {
        case Readback::accessibility: {
            const ElementRef field = m_services->accessibility().focusedElement(app.pid);
            const auto value = field ? m_services->accessibility().value(*field) : std::nullopt;
            return value ? graphemes::withoutEmbeddedMarkers(*value) : QStringLiteral("<unreadable>");
        }
        case Readback::page: {
            // The page posts the area's text and empties it.
            const qsizetype before = app.browser->bodies("/line").size();
            tool(QStringLiteral("xdotool"),
                 {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("Return")});
            if (!QTest::qWaitFor([&] { return app.browser->bodies("/line").size() > before; }, 5000))
                return QStringLiteral("<the page posted nothing>");
            return app.browser->bodies("/line").value(before);
        }
        case Readback::file: {
            QFile file(app.outputFile);
            if (!file.open(QIODevice::ReadOnly))
                return QStringLiteral("<no output>");
            file.seek(app.consumed);
            return QString::fromUtf8(file.readAll());
        }
        }
        return {};
    }

    bool clear(Application& app)
    {
        if (app.readback == Readback::file) {
            app.consumed = QFileInfo(app.outputFile).size();
            return true;
        }
        if (app.readback == Readback::page) {
            contents(app); // posting empties the area
            return true;
        }
        tool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"),
                                         QStringLiteral("ctrl+a"), QStringLiteral("Delete")});
        return QTest::qWaitFor([&] { return contents(app).isEmpty(); }, 5000);
    }

    // One insertion through the whole chain, as a dictation makes it; the status line of its outcome.
    QString insert(const QString& text)
    {
        m_lines.clear();
        m_inserter->insertText(text, m_inserter->captureInsertionTarget());
        if (!QTest::qWaitFor([&] { return m_lines.size() >= 2; }, 15000))
            return QStringLiteral("no outcome within 15 s");
        if (!QTest::qWaitFor([&] { return !m_inserter->clipboardInserter().isRestorePending(); }, 5000))
            return QStringLiteral("the clipboard was not restored within 5 s");
        return m_lines[1];
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_services = LinuxInsertionServices::create();
        QVERIFY(m_services);
        m_inserter = std::make_unique<TextInserter>(m_services->platform(m_mainQueue, m_defaults));
        m_inserter->setOnStatusChange([this](const QString& line) { m_lines << line; });

        // What the user copied last: text, HTML and an image, owned by another program.
        QVERIFY(m_clipboardOwner.start(QStringLiteral(QUENDA_FIXTURE_EDITOR),
                                       {QStringLiteral("--own-clipboard")}));
        m_userClipboard = FixtureProcess::clipboardFormats(QStringLiteral(QUENDA_FIXTURE_EDITOR));
        QCOMPARE(m_userClipboard.size(), 3);

        auto profile = [this](const QString& name) {
            QDir(m_dir.path()).mkpath(name);
            return m_dir.filePath(name);
        };
        // A fresh LibreOffice profile would greet the user with a dialog that takes the focus.
        const QString office = profile(QStringLiteral("lo/user"));
        QFile settings(office + QStringLiteral("/registrymodifications.xcu"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
                       "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\n"
                       "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop "
                       "oor:name=\"ShowTipOfTheDay\" oor:op=\"fuse\"><value>false</value></prop></item>\n"
                       "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"FirstRun\" "
                       "oor:op=\"fuse\"><value>false</value></prop></item>\n"
                       "<item oor:path=\"/org.openoffice.Setup/Office\"><prop "
                       "oor:name=\"ooSetupInstCompleted\" oor:op=\"fuse\"><value>true</value></prop></item>\n"
                       "</oor:items>\n");
        settings.close();
        launch(m_writer, QStringLiteral("soffice"),
               {QStringLiteral("--norestore"), QStringLiteral("--nologo"), QStringLiteral("--writer"),
                QStringLiteral("-env:UserInstallation=%1")
                    .arg(QUrl::fromLocalFile(profile(QStringLiteral("lo"))).toString())});
        launch(m_mousepad, QStringLiteral("mousepad"), {});

        m_xterm.outputFile = m_dir.filePath(QStringLiteral("xterm.out"));
        QProcessEnvironment utf8 = QProcessEnvironment::systemEnvironment();
        utf8.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        // The program in the terminal writes every byte it receives, at once and unchanged.
        launch(m_xterm, QStringLiteral("xterm"),
               {QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
                QStringLiteral("stty raw -echo; exec cat > '%1'").arg(m_xterm.outputFile)},
               utf8);

        for (Application* browser : {&m_firefox, &m_chromium}) {
            m_applications << browser;
            browser->browser = std::make_unique<BrowserPage>();
            if (!browser->browser->start(browser->windowClass))
                browser->skipReason =
                    QStringLiteral("%1 is not installed or never loaded the page").arg(browser->name);
        }
        for (Application* app : std::as_const(m_applications))
            awaitWindow(*app);
    }

    void cleanupTestCase()
    {
        for (Application* app : std::as_const(m_applications)) {
            app->browser.reset();
            if (app->process) {
                app->process->terminate();
                if (!app->process->waitForFinished(5000))
                    app->process->kill();
            }
        }
    }

    void insertsExactlyTwiceAtTheCaret_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("layout");
        for (const Application* app : {&m_writer, &m_mousepad, &m_xterm, &m_firefox, &m_chromium}) {
            const QByteArray name = app->name.toUtf8();
            QTest::addRow("%s ascii", name.data()) << app->name << kAscii << "us";
            // Browsers take text only by typing: on a Russian layout its own keys type it, and the rows
            // after it find the US layout's keys again.
            if (app->readback == Readback::page)
                QTest::addRow("%s russian layout", name.data()) << app->name << kRussian << "ru";
            QTest::addRow("%s off the layout", name.data()) << app->name << kAccented + kRussian << "us";
        }
    }
    void insertsExactlyTwiceAtTheCaret()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, layout);
        Application* app = application(name);
        QVERIFY(app);
        if (!app->skipReason.isEmpty()) // QSKIP ends the test function it is written in
            QSKIP(qPrintable(app->skipReason));
        QCOMPARE(QProcess::execute(QStringLiteral("setxkbmap"), {layout}), 0);
        const auto usLayout =
            qScopeGuard([] { QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("us")}); });
        QVERIFY(bringForward(*app));
        QVERIFY2(clear(*app), qPrintable(contents(*app)));

        QString outcome;
        for (int round = 0; round < 2; ++round) {
            outcome = insert(text);
            QVERIFY2(outcome.startsWith(QLatin1String("Inserted into")), qPrintable(outcome));
        }
        qInfo("%s", qPrintable(outcome)); // the method that served this application
        const QString expected = text + text;
        QString arrived;
        // A page is read once (reading empties it); the others until the text is complete.
        if (app->readback == Readback::page)
            arrived = contents(*app);
        else if (!QTest::qWaitFor([&] { return (arrived = contents(*app)) == expected; }, 5000))
            qWarning("still not exact after 5 s");
        QCOMPARE(arrived, expected);
        QCOMPARE(FixtureProcess::clipboardFormats(QStringLiteral(QUENDA_FIXTURE_EDITOR)), m_userClipboard);
    }

    void pastesIntoXtermWithShiftInsert()
    {
        if (!m_xterm.skipReason.isEmpty())
            QSKIP(qPrintable(m_xterm.skipReason));
        QVERIFY(bringForward(m_xterm));
        QVERIFY(clear(m_xterm));
        const QString text = QString::fromUtf8("echo pasted ✓");
        QVERIFY(m_inserter->clipboardInserter().pasteText(text, m_xterm.pid));
        QTRY_COMPARE_WITH_TIMEOUT(contents(m_xterm), text, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_inserter->clipboardInserter().isRestorePending(), 5000);
        QCOMPARE(FixtureProcess::clipboardFormats(QStringLiteral(QUENDA_FIXTURE_EDITOR)), m_userClipboard);
    }

    // Reproduces what hung: a command with a terminal (or any application) in front while LibreOffice and
    // other accessible applications run, and an application that stopped answering altogether.
    void commandsFinishWithinTheirBounds_data()
    {
        QTest::addColumn<QString>("name");
        // One of each kind: a terminal, an accessible application, one that does not answer.
        for (const char* name : {"xterm", "LibreOffice Writer", "frozen"})
            QTest::newRow(name) << name;
    }
    void commandsFinishWithinTheirBounds()
    {
        QFETCH(QString, name);
        if (!m_writer.skipReason.isEmpty())
            QSKIP(qPrintable(m_writer.skipReason));
        FixtureProcess frozen;
        Application stopped{QStringLiteral("frozen"), QString(), Readback::accessibility};
        const auto resume = qScopeGuard([&] {
            if (stopped.pid > 0)
                ::kill(static_cast<pid_t>(stopped.pid), SIGCONT);
        });
        Application* app = application(name);
        if (!app) {
            // Brought forward and focused first: a stopped application cannot take the focus.
            QVERIFY(frozen.start(FixtureProcess::python(), {QStringLiteral(QUENDA_GTK_FIXTURE)}));
            stopped.pid = frozen.pid();
            app = &stopped;
            QVERIFY(bringForward(stopped));
            QVERIFY(frozen.ok("focus line"));
            ::kill(static_cast<pid_t>(stopped.pid), SIGSTOP);
        }
        if (!app->skipReason.isEmpty())
            QSKIP(qPrintable(app->skipReason));
        QVERIFY(bringForward(*app));

        const desktop::Run read = desktop::runQuenda({QStringLiteral("read-focused")}, 10000);
        QVERIFY2(read.status == 0 || read.status == 1, qPrintable(read.err));
        if (app->readback == Readback::accessibility && app != &stopped)
            QCOMPARE(read.out, contents(*app) + QLatin1Char('\n'));

        const desktop::Run inserted =
            desktop::runQuenda({QStringLiteral("insert"), QStringLiteral("ok ")}, 30000);
        QVERIFY2(inserted.status == 0, qPrintable(inserted.out + inserted.err));
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The test is not a target: keep it off the accessibility bus so only the applications are found there.
    qunsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    QGuiApplication app(argc, argv);
    TestApplicationsDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_applications_desktop.moc"
