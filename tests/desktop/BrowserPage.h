#pragma once

// A browser started with a private profile on a page served from 127.0.0.1 that posts back every line
// typed into its text field (Enter ends a line), for the applications test and the insertion benchmark.
#include "fakes/FakeHttpServer.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class BrowserPage {
public:
    BrowserPage()
    {
        m_server.setHandler([](const quenda::fakes::RecordedRequest& request) {
            return request.method == "GET"
                       ? quenda::fakes::FakeReply::text(200, page(), "text/html; charset=utf-8")
                       : quenda::fakes::FakeReply::text(204, QByteArray());
        });
    }
    ~BrowserPage()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }

    // "chromium" or "firefox-esr"; false when it is missing or the page never loads.
    bool start(const QString& program)
    {
        if (QStandardPaths::findExecutable(program).isEmpty())
            return false;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MOZ_ENABLE_WAYLAND"), QStringLiteral("0"));
        environment.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("x11"));
        m_process.setProcessEnvironment(environment);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(program, arguments(program));
        if (!m_process.waitForStarted(10000) ||
            !QTest::qWaitFor([&] { return !bodies("/ready").isEmpty(); }, 60000))
            return false;
        QTest::qWait(500); // the new window takes the focus from the window manager
        return true;
    }

    // The bodies of the requests to `path`, in order.
    QStringList bodies(const QByteArray& path) const
    {
        QStringList found;
        for (const quenda::fakes::RecordedRequest& request : m_server.requests())
            if (request.path == path)
                found << QString::fromUtf8(request.body);
        return found;
    }

private:
    static QByteArray page()
    {
        return R"(<!doctype html><meta charset="utf-8"><title>typing</title>
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
    }

    QStringList arguments(const QString& program)
    {
        const QString profile = m_profile.path();
        const QString url = m_server.url().toString();
        if (program == QLatin1String("chromium"))
            return QStringLiteral("--no-sandbox --disable-gpu --disable-quic --no-first-run "
                                  "--no-default-browser-check --disable-background-networking "
                                  "--disable-component-update --disable-sync --password-store=basic "
                                  "--window-size=800,600")
                       .split(QLatin1Char(' '))
                   << QStringLiteral("--user-data-dir=") + profile << url;
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
)");
        return {QStringLiteral("--no-remote"), QStringLiteral("--new-instance"), QStringLiteral("--profile"),
                profile, url};
    }

    quenda::fakes::FakeHttpServer m_server;
    QTemporaryDir m_profile;
    QProcess m_process;
};
