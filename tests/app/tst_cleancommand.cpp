// `quenda clean` as the user runs it: the real binary, its own settings folder, no secret service (the
// keychain store falls back to its file), and a loopback server in place of Groq.
#include "base/UserDefaults.h"
#include "fakes/FakeHttpServer.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

struct Home {
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("config/Quenda/Quenda.conf"))};

    Run quenda(const QStringList& arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
        env.remove(QStringLiteral("DISPLAY"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(QUENDA_BINARY), arguments);
        if (!process.waitForFinished(60000))
            return {};
        return Run{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                   QString::fromUtf8(process.readAllStandardError())};
    }
    void useGroq(const FakeHttpServer& server, const QString& key)
    {
        defaults.setString(QStringLiteral("groq_api_key"), key);
        defaults.setString(QStringLiteral("chatCompletionsURL"),
                           server.url(QStringLiteral("/v1/chat/completions")).toString());
    }
};

} // namespace

class TestCleanCommand : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void badArgumentAndNoRoute();
    void groqRouteStreamsThePieces();
    void failureFallsBackToTheRawText();
};

void TestCleanCommand::badArgumentAndNoRoute()
{
    Home home;
    QCOMPARE(home.quenda({QStringLiteral("clean"), QStringLiteral("a"), QStringLiteral("--app")}).status, 2);
    // Without a route nothing is sent.
    const Run run = home.quenda({QStringLiteral("clean"), QStringLiteral("um hello")});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(QStringLiteral("no clean-up route")), qPrintable(run.err));
}

void TestCleanCommand::groqRouteStreamsThePieces()
{
    FakeHttpServer server;
    server.enqueue(
        wire::groqStream({QStringLiteral("Hello"), QStringLiteral(" there."), QStringLiteral("\n")}, 20, 20));
    Home home;
    home.useGroq(server, QStringLiteral("gsk-cli"));
    const Run run = home.quenda({QStringLiteral("clean"), QStringLiteral("um hello there"),
                                 QStringLiteral("--app"), QStringLiteral("com.apple.mail")});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("Hello there.\n\nHello there.\n"));
    // The application named reaches the prompt (the request itself is the Groq client's test).
    const QJsonArray messages = server.requests().first().json().value(QLatin1String("messages")).toArray();
    QVERIFY(messages[0]
                .toObject()
                .value(QLatin1String("content"))
                .toString()
                .contains(QStringLiteral("Context: email.")));
}

void TestCleanCommand::failureFallsBackToTheRawText()
{
    FakeHttpServer server;
    server.enqueue(FakeReply::json(401, QByteArray(R"({"error":"bad key"})")));
    Home home;
    home.useGroq(server, QStringLiteral("gsk-wrong"));
    const Run run = home.quenda({QStringLiteral("clean"), QStringLiteral("raw words")});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.out, QStringLiteral("raw words\n"));
    QVERIFY2(run.err.contains(QStringLiteral("Groq API error (401): Stream failed")), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestCleanCommand)
#include "tst_cleancommand.moc"
