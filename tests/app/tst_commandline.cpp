#include "app/AppServices.h"
#include "app/cli/CommandLine.h"
#include "base/UserDefaults.h"
#include "fakes/FileChecks.h"
#include "fakes/TableRows.h"
#include "net/KeychainStore.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quenda;
using quenda::fakes::row;

namespace {

// The command line over a temporary store, with its output captured.
struct Cli {
    QTemporaryDir dir;
    AppServices services{AppServices::Locations::in(dir.path()), nullptr};
    UserDefaults& defaults = services.defaults();
    QString out;
    QString err;

    int run(const QStringList& arguments)
    {
        out.clear();
        err.clear();
        QTextStream outStream(&out), errStream(&err);
        CommandLine commandLine(services, outStream, errStream);
        return commandLine.run(arguments);
    }
};

// A command's arguments, "|" between them.
QStringList args(const char* command)
{
    return QString::fromUtf8(command).split(u'|');
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commandsReachTheirStoresAndReportErrors_data();
    void commandsReachTheirStoresAndReportErrors();
    void secretsGoToTheSecretStoreAndAreMasked();
    void withoutAUsableDisplayDesktopCommandsSayWhy_data();
    void withoutAUsableDisplayDesktopCommandsSayWhy();
    void transcribeRefusesWhatIsNotAWavFileBeforeReadingIt();
};

void TestCommandLine::commandsReachTheirStoresAndReportErrors_data()
{
    QTest::addColumn<QString>("before");  // commands that must succeed, ";" between them
    QTest::addColumn<QString>("command"); // "|" between the arguments
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output"); // found in what the command printed
    const char* usage = "usage: quenda";
    row("nothing", "", "", 2, usage);
    row("unknown command", "", "dance", 2, usage);
    row("snippets add with one", "", "snippets|add|sig", 2, usage);
    row("insert after no number", "", "insert|x|--after|soon", 2, usage);
    row("snippets add empty trigger", "", "snippets|add||x", 2, usage);
    row("dictionary remove nothing", "", "dictionary|remove", 2, usage);
    row("config set bool word", "", "config|set|devMode|maybe", 2, usage);
    row("config set unknown key", "", "config|set|nosuch|v", 2, usage);
    row("config set no such choice", "", "config|set|speechEngine|dragon", 2, usage);
    row("config set data not JSON", "", "config|set|snippets|[{", 2, usage);

    const char* address = "snippets|add|My Address|1 Main Street\\nSpringfield";
    row("snippet expands", address, "expand|send it to MY ADDRESS.", 0,
        "send it to 1 Main Street\nSpringfield.\n");
    row("removed snippet no longer expands", "snippets|add|My Address|x;snippets|remove|My Address",
        "expand|MY ADDRESS", 0, "MY ADDRESS\n");
    row("no such snippet", address, "snippets|remove|nope", 1, "no snippet matches");
    row("dictionary removes every entry for the word",
        "dictionary|add|Jason|JSON;dictionary|add|jason|Jason;dictionary|add|teh|the",
        "dictionary|remove|JASON", 0, "Removed 2 entries\n");
    row("config get unset", "", "config|get|hotkeyKeyCode", 1, "hotkeyKeyCode is not set");
    row("config set integer", "config|set|hotkeyKeyCode|49", "config|list", 0, "hotkeyKeyCode = 49\n");
    row("config set bool YES", "config|set|devMode|YES", "config|get|devMode", 0, "true\n");
    row("config set data",
        R"(config|set|snippets|[{"id":"0E6B7C52-8F5D-4A34-9C1B-3F1C2E4D5A6B","trigger":"brb","expansion":"be right back"}])",
        "expand|brb", 0, "be right back\n");
    row("config unset shows the default", "config|set|speechEngine|pocketsphinx;config|unset|speechEngine",
        "config|get|speechEngine", 1, "(default: pocketsphinx)");
}

void TestCommandLine::commandsReachTheirStoresAndReportErrors()
{
    QFETCH(QString, before);
    QFETCH(QString, command);
    QFETCH(int, status);
    QFETCH(QString, output);
    Cli cli;
    for (const QString& step : before.split(u';', Qt::SkipEmptyParts))
        QCOMPARE(cli.run(step.split(u'|')), 0);
    QCOMPARE(cli.run(command.isEmpty() ? QStringList() : command.split(u'|')), status);
    QVERIFY2((status == 0 ? cli.out : cli.err).contains(output), qPrintable(cli.out + cli.err));
    if (status != 0)
        QVERIFY(cli.err.startsWith(QStringLiteral("quenda: ")));
    if (status == 2)
        QVERIFY(cli.defaults.allKeys().isEmpty()); // nothing half-done
}

void TestCommandLine::secretsGoToTheSecretStoreAndAreMasked()
{
    Cli cli;
    QCOMPARE(cli.run(args("config|set|devMode|true")), 0);
    QCOMPARE(cli.run(args("config|set|groq_api_key|gsk_live_0123456789abcdef")), 0);
    QVERIFY(cli.out.startsWith(QStringLiteral("Stored groq_api_key in the private secrets file")));
    QCOMPARE(cli.services.keychain().read(KeychainStore::groqAccount),
             std::optional<QString>(QStringLiteral("gsk_live_0123456789abcdef")));
    QVERIFY(!cli.defaults.contains(QStringLiteral("groq_api_key")));
    QVERIFY(!fakes::contents(cli.defaults.filePath()).contains("0123456789"));
    QVERIFY(fakes::onlyTheUserCanRead(cli.defaults.filePath()));

    for (const QStringList& arguments : {args("config|list"), args("config|get|groq_api_key")}) {
        QCOMPARE(cli.run(arguments), 0);
        QVERIFY2(!cli.out.contains(QStringLiteral("0123456789")), qPrintable(cli.out));
        QVERIFY(cli.out.contains(QStringLiteral("********cdef")));
    }
    QCOMPARE(cli.run(args("config|unset|groq_api_key")), 0);
    QCOMPARE(cli.services.keychain().read(KeychainStore::groqAccount), std::nullopt);
}

void TestCommandLine::withoutAUsableDisplayDesktopCommandsSayWhy_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display"); // "-": not set
    QTest::addColumn<QString>("problem");
    const QString stale = QStringLiteral("the X display \":4917\" named by DISPLAY cannot be opened");
    QTest::newRow("tray application, stale") << QStringList() << QStringLiteral(":4917") << stale;
    QTest::newRow("read-focused, empty")
        << args("read-focused") << QString() << QStringLiteral("DISPLAY is empty");
    QTest::newRow("insert, unset") << args("insert|hi") << QStringLiteral("-")
                                   << QStringLiteral("DISPLAY is not set");
}

void TestCommandLine::withoutAUsableDisplayDesktopCommandsSayWhy()
{
#ifndef QUENDA_LINUX_DESKTOP
    QSKIP("built without the desktop commands");
#endif
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(QString, problem);
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    if (display == QLatin1String("-"))
        env.remove(QStringLiteral("DISPLAY"));
    else
        env.insert(QStringLiteral("DISPLAY"), display);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUENDA_BINARY), arguments);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("needs an X11 display: ") + problem), qPrintable(err));
}

void TestCommandLine::transcribeRefusesWhatIsNotAWavFileBeforeReadingIt()
{
#ifndef QUENDA_LINUX_DESKTOP
    QSKIP("built without the capture commands");
#endif
    // A pipe whose writer never finishes: reading it whole would never end.
    QTemporaryDir dir;
    const QByteArray pipe = QFile::encodeName(dir.filePath(QStringLiteral("endless")));
    QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
    const int writer = ::open(pipe.constData(), O_RDWR);
    QVERIFY(writer >= 0);
    QCOMPARE(::write(writer, "NOT A WAVE FILE AT ALL", 22), 22);
    QProcess process;
    process.start(QStringLiteral(QUENDA_BINARY),
                  {QStringLiteral("transcribe"), dir.filePath(QStringLiteral("endless"))});
    const bool finished = process.waitForFinished(20000);
    ::close(writer);
    QVERIFY(finished || process.waitForFinished(5000));
    QVERIFY2(finished, "transcribe read on past the header");
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("not a WAV file"));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
