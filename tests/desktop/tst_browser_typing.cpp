// Browsers take text only by typing (their fields expose no editable text, or ignore it), so what browser
// users get is as exact as the typing: a Russian sentence into Chromium and Firefox ESR, on a US layout
// (every letter through a spare keycode) and on a Russian one (the layout's own keys). Each browser is
// started once, with a private profile, on a page served from 127.0.0.1 that posts each typed line back.
#include "fakes/FakeHttpServer.h"
#include "platform/linux/XTestKeyTyper.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using quenda::fakes::FakeHttpServer;
using quenda::fakes::FakeReply;
using quenda::fakes::RecordedRequest;

namespace {

const QString kSentence = QString::fromUtf8("Съешь же ещё этих мягких французских булок, да выпей чаю.");

const QByteArray kPage = R"(<!doctype html><meta charset="utf-8"><title>typing</title>
<textarea id="field" autofocus style="width:600px;height:300px"></textarea>
<script>
const field = document.getElementById('field');
field.focus();
field.addEventListener('keydown', (event) => {
  if (event.key !== 'Enter') return;
  event.preventDefault();
  fetch('/line', {method: 'POST', body: field.value});
  field.value = '';
});
fetch('/ready', {method: 'POST', body: 'ready'});
</script>)";

QStringList browserArguments(const QString& browser, const QString& profile, const QString& url)
{
    if (browser == QLatin1String("chromium"))
        return {QStringLiteral("--no-sandbox"),
                QStringLiteral("--disable-gpu"),
                QStringLiteral("--disable-quic"),
                QStringLiteral("--no-first-run"),
                QStringLiteral("--no-default-browser-check"),
                QStringLiteral("--disable-background-networking"),
                QStringLiteral("--disable-component-update"),
                QStringLiteral("--disable-sync"),
                QStringLiteral("--password-store=basic"),
                QStringLiteral("--user-data-dir=") + profile,
                QStringLiteral("--window-size=800,600"),
                url};
    // Firefox: a profile that skips every first-run page and talks to nobody.
    QFile prefs(profile + QStringLiteral("/user.js"));
    if (prefs.open(QIODevice::WriteOnly))
        prefs.write(R"(user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.disabledForTesting", true);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("browser.tabs.warnOnClose", false);
)");
    return {QStringLiteral("--no-remote"), QStringLiteral("--new-instance"), QStringLiteral("--profile"),
            profile, url};
}

} // namespace

class TestBrowserTyping : public QObject {
    Q_OBJECT

    FakeHttpServer m_server;

    QStringList bodies(const QByteArray& path) const
    {
        QStringList found;
        for (const RecordedRequest& request : m_server.requests())
            if (request.path == path)
                found << QString::fromUtf8(request.body);
        return found;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server.setHandler([](const RecordedRequest& request) {
            return request.method == "GET" ? FakeReply::text(200, kPage, "text/html; charset=utf-8")
                                           : FakeReply::text(204, QByteArray());
        });
    }

    void russianSentenceExactOnUsAndRussianLayouts_data()
    {
        QTest::addColumn<QString>("browser");
        QTest::addColumn<QString>("program");
        QTest::newRow("chromium") << "chromium"
                                  << "chromium";
        QTest::newRow("firefox") << "firefox"
                                 << "firefox-esr";
    }
    void russianSentenceExactOnUsAndRussianLayouts()
    {
        QFETCH(QString, browser);
        QFETCH(QString, program);
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(program +
                             QStringLiteral(" is not installed (scripts/install-deps.sh installs it)")));
        QTemporaryDir profile;
        const int readyBefore = bodies("/ready").size();
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MOZ_ENABLE_WAYLAND"), QStringLiteral("0"));
        environment.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("x11"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(program, browserArguments(browser, profile.path(), m_server.url().toString()));
        QVERIFY(process.waitForStarted(10000));
        QVERIFY2(QTest::qWaitFor([&] { return bodies("/ready").size() > readyBefore; }, 60000),
                 "the page never loaded");
        QTest::qWait(500); // the new window takes the focus from the window manager

        XTestKeyTyper typer;
        for (const QString& layout : {QStringLiteral("us"), QStringLiteral("ru"), QStringLiteral("us")}) {
            QCOMPARE(QProcess::execute(QStringLiteral("setxkbmap"), {layout}), 0);
            const qsizetype linesBefore = bodies("/line").size();
            QCOMPARE(typer.typeCharacters(kSentence + QLatin1Char('\n')),
                     KeyboardSynthesizer::Outcome::typed);
            QTRY_VERIFY_WITH_TIMEOUT(bodies("/line").size() > linesBefore, 10000);
            QCOMPARE(bodies("/line").value(linesBefore), kSentence);
        }
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    TestBrowserTyping test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_browser_typing.moc"
