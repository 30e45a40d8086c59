#include "app/AppServices.h"
#include "app/cli/CommandLine.h"
#include "base/UserDefaults.h"
#include "net/KeychainStore.h"
#include "text/PersonalDictionary.h"
#include "text/SnippetManager.h"

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
    SnippetManager& snippets = services.snippets();
    PersonalDictionary& dictionary = services.dictionary();
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
    void badArgumentsPrintUsageAndExitWithTwo_data();
    void badArgumentsPrintUsageAndExitWithTwo();
    void snippetsRoundTripAndExpand();
    void dictionaryAddAndRemove();
    void configStoresKnownKeysWithTheirTypes();
    void secretsGoToTheSecretStoreAndAreMasked();
    void withoutAUsableDisplayDesktopCommandsSayWhy_data();
    void withoutAUsableDisplayDesktopCommandsSayWhy();
    void transcribeRefusesWhatIsNotAWavFileBeforeReadingIt();
};

void TestCommandLine::badArgumentsPrintUsageAndExitWithTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("unknown command") << args({"dance"});
    QTest::newRow("snippets add with one") << args({"snippets", "add", "sig"});
    QTest::newRow("insert after no number") << args({"insert", "x", "--after", "soon"});
    QTest::newRow("snippets add empty trigger") << args({"snippets", "add", "", "x"});
    QTest::newRow("dictionary remove nothing") << args({"dictionary", "remove"});
    QTest::newRow("config set bool word") << args({"config", "set", "devMode", "maybe"});
    QTest::newRow("config set unknown key") << args({"config", "set", "nosuch", "v"});
    QTest::newRow("config set no such choice") << args({"config", "set", "speechEngine", "dragon"});
    QTest::newRow("config set data not JSON") << args({"config", "set", "snippets", "[{"});
}

void TestCommandLine::badArgumentsPrintUsageAndExitWithTwo()
{
    QFETCH(QStringList, arguments);
    Cli cli;
    QCOMPARE(cli.run(arguments), 2);
    QVERIFY(cli.err.startsWith(QStringLiteral("quenda: ")));
    QVERIFY(cli.err.contains(QStringLiteral("usage: quenda")));
    QVERIFY(cli.defaults.allKeys().isEmpty()); // nothing half-done
}

void TestCommandLine::snippetsRoundTripAndExpand()
{
    Cli cli;
    QCOMPARE(cli.run(args({"snippets", "add", "My Address", "1 Main Street\\nSpringfield"})), 0);
    QCOMPARE(cli.run(args({"snippets", "list"})), 0);
    const QStringList fields = cli.out.trimmed().split(QLatin1Char('\t'));
    QCOMPARE(fields.mid(1),
             (QStringList{QStringLiteral("my address"), QStringLiteral("1 Main Street\\nSpringfield")}));

    QCOMPARE(cli.run(args({"expand", "send it to MY ADDRESS."})), 0);
    QVERIFY(cli.out.endsWith(QStringLiteral("send it to 1 Main Street\nSpringfield.\n")));

    QCOMPARE(cli.run(args({"snippets", "remove", "nope"})), 1);
    QCOMPARE(cli.run(QStringList{QStringLiteral("snippets"), QStringLiteral("remove"), fields[0]}), 0);
    QVERIFY(SnippetManager(cli.defaults).snippets().isEmpty()); // the removal reached the store
}

void TestCommandLine::dictionaryAddAndRemove()
{
    Cli cli;
    for (auto [word, correct] : {std::pair{"Jason", "JSON"}, {"jason", "Jason"}, {"teh", "the"}})
        QCOMPARE(cli.run(args({"dictionary", "add", word, correct})), 0);
    QCOMPARE(cli.run(args({"dictionary", "remove", "JASON"})), 0); // every entry for the word
    QCOMPARE(cli.out, QStringLiteral("Removed 2 entries\n"));
    QCOMPARE(cli.dictionary.entries().size(), 1);
}

void TestCommandLine::configStoresKnownKeysWithTheirTypes()
{
    Cli cli;
    QCOMPARE(cli.run(args({"config", "get", "hotkeyKeyCode"})), 1);
    QVERIFY(cli.err.contains(QStringLiteral("not set")));
    QCOMPARE(cli.run(args({"config", "set", "hotkeyKeyCode", "49"})), 0);
    QCOMPARE(cli.defaults.integerValue(QStringLiteral("hotkeyKeyCode")), std::optional<qint64>(49));
    QCOMPARE(cli.run(args({"config", "set", "devMode", "YES"})), 0);
    QCOMPARE(cli.defaults.boolValue(QStringLiteral("devMode")), std::optional<bool>(true));
    QCOMPARE(cli.run(args({"config", "set", "speechEngine", "pocketsphinx"})), 0);

    const char* blob =
        R"([{"id":"0E6B7C52-8F5D-4A34-9C1B-3F1C2E4D5A6B","trigger":"brb","expansion":"be right back"}])";
    QCOMPARE(cli.run(args({"config", "set", "snippets", blob})), 0);
    QCOMPARE(SnippetManager(cli.defaults).snippets().value(0).expansion, QStringLiteral("be right back"));

    QCOMPARE(cli.run(args({"config", "get", "speechEngine"})), 0);
    QCOMPARE(cli.out, QStringLiteral("pocketsphinx\n"));
    QCOMPARE(cli.run(args({"config", "list"})), 0);
    QVERIFY(cli.out.contains(QStringLiteral("hotkeyKeyCode = 49\n")));
    QCOMPARE(cli.run(args({"config", "unset", "speechEngine"})), 0);
    QVERIFY(!cli.defaults.contains(QStringLiteral("speechEngine")));
    QCOMPARE(cli.run(args({"config", "get", "speechEngine"})), 1);
    QVERIFY(cli.err.contains(QStringLiteral("(default: pocketsphinx)")));
}

void TestCommandLine::secretsGoToTheSecretStoreAndAreMasked()
{
    Cli cli;
    QCOMPARE(cli.run(args({"config", "set", "devMode", "true"})), 0);
    const QString key = QStringLiteral("gsk_live_0123456789abcdef");
    QCOMPARE(cli.run({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("groq_api_key"), key}),
             0);
    QVERIFY(cli.out.startsWith(QStringLiteral("Stored groq_api_key in the private secrets file")));
    QCOMPARE(cli.services.keychain().read(KeychainStore::groqAccount), std::optional<QString>(key));
    QVERIFY(!cli.defaults.contains(QStringLiteral("groq_api_key")));
    QFile settingsFile(cli.defaults.filePath());
    QVERIFY(settingsFile.open(QIODevice::ReadOnly));
    QVERIFY(!settingsFile.readAll().contains("0123456789"));
    QCOMPARE(settingsFile.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());

    for (const char* action : {"list", "get"}) {
        QStringList arguments = args({"config", action});
        if (arguments[1] == QLatin1String("get"))
            arguments << QStringLiteral("groq_api_key");
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
