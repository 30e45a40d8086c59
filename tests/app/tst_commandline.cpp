#include "app/AppServices.h"
#include "app/cli/CommandLine.h"
#include "base/UserDefaults.h"
#include "net/KeychainStore.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quenda;

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

QStringList args(std::initializer_list<const char*> list)
{
    QStringList result;
    for (const char* item : list)
        result << QString::fromUtf8(item);
    return result;
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
    QTest::addColumn<QList<QStringList>>("before"); // each must succeed
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output"); // found in what the command printed
    const QString usage = QStringLiteral("usage: quenda");
    auto bad = [&](const char* name, const QStringList& arguments) {
        QTest::newRow(name) << QList<QStringList>{} << arguments << 2 << usage;
    };
    bad("nothing", {});
    bad("unknown command", args({"dance"}));
    bad("snippets add with one", args({"snippets", "add", "sig"}));
    bad("insert after no number", args({"insert", "x", "--after", "soon"}));
    bad("snippets add empty trigger", args({"snippets", "add", "", "x"}));
    bad("dictionary remove nothing", args({"dictionary", "remove"}));
    bad("config set bool word", args({"config", "set", "devMode", "maybe"}));
    bad("config set unknown key", args({"config", "set", "nosuch", "v"}));
    bad("config set no such choice", args({"config", "set", "speechEngine", "dragon"}));
    bad("config set data not JSON", args({"config", "set", "snippets", "[{"}));

    const QStringList address = args({"snippets", "add", "My Address", "1 Main Street\\nSpringfield"});
    QTest::newRow("snippet expands") << QList<QStringList>{address}
                                     << args({"expand", "send it to MY ADDRESS."}) << 0
                                     << QStringLiteral("send it to 1 Main Street\nSpringfield.\n");
    QTest::newRow("removed snippet no longer expands")
        << QList<QStringList>{address, args({"snippets", "remove", "My Address"})}
        << args({"expand", "MY ADDRESS"}) << 0 << QStringLiteral("MY ADDRESS\n");
    QTest::newRow("no such snippet") << QList<QStringList>{address} << args({"snippets", "remove", "nope"})
                                     << 1 << QStringLiteral("no snippet matches");
    QTest::newRow("dictionary removes every entry for the word")
        << QList<QStringList>{args({"dictionary", "add", "Jason", "JSON"}),
                              args({"dictionary", "add", "jason", "Jason"}),
                              args({"dictionary", "add", "teh", "the"})}
        << args({"dictionary", "remove", "JASON"}) << 0 << QStringLiteral("Removed 2 entries\n");
    QTest::newRow("config get unset") << QList<QStringList>{} << args({"config", "get", "hotkeyKeyCode"}) << 1
                                      << QStringLiteral("hotkeyKeyCode is not set");
    QTest::newRow("config set integer")
        << QList<QStringList>{args({"config", "set", "hotkeyKeyCode", "49"})} << args({"config", "list"}) << 0
        << QStringLiteral("hotkeyKeyCode = 49\n");
    QTest::newRow("config set bool word")
        << QList<QStringList>{args({"config", "set", "devMode", "YES"})} << args({"config", "get", "devMode"})
        << 0 << QStringLiteral("true\n");
    const char* blob =
        R"([{"id":"0E6B7C52-8F5D-4A34-9C1B-3F1C2E4D5A6B","trigger":"brb","expansion":"be right back"}])";
    QTest::newRow("config set data") << QList<QStringList>{args({"config", "set", "snippets", blob})}
                                     << args({"expand", "brb"}) << 0 << QStringLiteral("be right back\n");
    QTest::newRow("config unset shows the default")
        << QList<QStringList>{args({"config", "set", "speechEngine", "pocketsphinx"}),
                              args({"config", "unset", "speechEngine"})}
        << args({"config", "get", "speechEngine"}) << 1 << QStringLiteral("(default: pocketsphinx)");
}

void TestCommandLine::commandsReachTheirStoresAndReportErrors()
{
    QFETCH(QList<QStringList>, before);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    Cli cli;
    for (const QStringList& step : before)
        QCOMPARE(cli.run(step), 0);
    QCOMPARE(cli.run(arguments), status);
    QVERIFY2((status == 0 ? cli.out : cli.err).contains(output), qPrintable(cli.out + cli.err));
    if (status != 0)
        QVERIFY(cli.err.startsWith(QStringLiteral("quenda: ")));
    if (status == 2)
        QVERIFY(cli.defaults.allKeys().isEmpty()); // nothing half-done
}

void TestCommandLine::secretsGoToTheSecretStoreAndAreMasked()
{
    Cli cli;
    QCOMPARE(cli.run(args({"config", "set", "devMode", "true"})), 0);
    QCOMPARE(cli.run(args({"config", "set", "groq_api_key", "gsk_live_0123456789abcdef"})), 0);
    QVERIFY(cli.out.startsWith(QStringLiteral("Stored groq_api_key in the private secrets file")));
    QCOMPARE(cli.services.keychain().read(KeychainStore::groqAccount),
             std::optional<QString>(QStringLiteral("gsk_live_0123456789abcdef")));
    QVERIFY(!cli.defaults.contains(QStringLiteral("groq_api_key")));
    QFile settingsFile(cli.defaults.filePath());
    QVERIFY(settingsFile.open(QIODevice::ReadOnly));
    QVERIFY(!settingsFile.readAll().contains("0123456789"));
    QCOMPARE(settingsFile.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());

    for (const QStringList& arguments : {args({"config", "list"}), args({"config", "get", "groq_api_key"})}) {
        QCOMPARE(cli.run(arguments), 0);
        QVERIFY2(!cli.out.contains(QStringLiteral("0123456789")), qPrintable(cli.out));
        QVERIFY(cli.out.contains(QStringLiteral("********cdef")));
    }
    QCOMPARE(cli.run(args({"config", "unset", "groq_api_key"})), 0);
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
        << args({"read-focused"}) << QString() << QStringLiteral("DISPLAY is empty");
    QTest::newRow("insert, unset") << args({"insert", "hi"}) << QStringLiteral("-")
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
