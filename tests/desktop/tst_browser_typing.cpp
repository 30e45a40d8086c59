// Browsers take text only by typing (their fields expose no editable text, or ignore it), so what browser
// users get is as exact as the typing: a Russian sentence into Chromium and Firefox ESR, on a US layout
// (every letter through a spare keycode) and on a Russian one (the layout's own keys). Each browser is
// started once, with a private profile, on a page served from 127.0.0.1 that posts each typed line back.
#include "BrowserPage.h"
#include "platform/linux/XTestKeyTyper.h"

#include <QGuiApplication>

using namespace quenda;

namespace {

const QString kSentence = QString::fromUtf8("Съешь же ещё этих мягких французских булок, да выпей чаю.");

} // namespace

class TestBrowserTyping : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void russianSentenceExactOnUsAndRussianLayouts_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("chromium") << "chromium";
        QTest::newRow("firefox") << "firefox-esr";
    }
    void russianSentenceExactOnUsAndRussianLayouts()
    {
        QFETCH(QString, program);
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(program +
                             QStringLiteral(" is not installed (scripts/install-deps.sh installs it)")));
        BrowserPage browser;
        QVERIFY2(browser.start(program), "the browser never loaded the page");
        XTestKeyTyper typer;
        for (const QString& layout : {QStringLiteral("us"), QStringLiteral("ru"), QStringLiteral("us")}) {
            QCOMPARE(QProcess::execute(QStringLiteral("setxkbmap"), {layout}), 0);
            const qsizetype linesBefore = browser.bodies("/line").size();
            QCOMPARE(typer.typeCharacters(kSentence + QLatin1Char('\n')),
                     KeyboardSynthesizer::Outcome::typed);
            QTRY_VERIFY_WITH_TIMEOUT(browser.bodies("/line").size() > linesBefore, 10000);
            QCOMPARE(browser.bodies("/line").value(linesBefore), kSentence);
        }
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
