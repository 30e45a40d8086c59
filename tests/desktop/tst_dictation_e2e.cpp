// A whole dictation through the real product: `quenda run` listens for the hotkey, the test holds Right
// Ctrl through XTest, a recording plays into the session's speaker (whose monitor is the microphone),
// the hotkey is released, and the recognised words must arrive in the fixture editor's focused field,
// expanded by snippets that a second process added while `quenda run` was running.
#include "FixtureProcess.h"

#include <QProcess>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <memory>

namespace {

const QString kRecording = QStringLiteral(
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav");
// Words the recording says that the recogniser hears reliably.
const char* const kWords[] = {"leisure", "consider", "power", "john"};

// Holds or releases Right Ctrl, the key that plays the Fn role.
bool rightControl(bool down)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    const KeyCode code = XKeysymToKeycode(display, XStringToKeysym("Control_R"));
    XTestFakeKeyEvent(display, code, down ? True : False, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

bool waitForOutput(QProcess& process, QByteArray& seen, const QByteArray& wanted, int timeoutMsec)
{
    QElapsedTimer timer;
    timer.start();
    while (!seen.contains(wanted) && timer.elapsed() < timeoutMsec && process.state() == QProcess::Running) {
        process.waitForReadyRead(50);
        // Results come on standard output, log lines on standard error: both tell how far it got.
        seen += process.readAllStandardOutput() + process.readAllStandardError();
    }
    return seen.contains(wanted);
}

} // namespace

class TestDictationEndToEnd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void spokenWordsArriveInTheFocusedField();
};

void TestDictationEndToEnd::spokenWordsArriveInTheFocusedField()
{
    if (!QFile::exists(kRecording))
        QSKIP("pocketsphinx-testdata is not installed");
    FixtureProcess editor;
    QVERIFY(editor.start(QStringLiteral(QUENDA_FIXTURE_EDITOR), {}));
    QVERIFY(editor.ok("focus multi"));
    QVERIFY(editor.ok("activate"));

    QProcess quenda;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    quenda.setProcessEnvironment(environment);
    quenda.start(QStringLiteral(QUENDA_BINARY), {QStringLiteral("run")});
    QVERIFY(quenda.waitForStarted(10000));
    QByteArray output;
    // The pipeline is wired once the hotkey listener has been restarted; the first log line comes after.
    QVERIFY2(waitForOutput(quenda, output, "[QuendaAPI] Using host", 20000), output.constData());

    // Snippets added from a shell while Quenda runs serve the very next dictation.
    for (const char* word : kWords) {
        QProcess add;
        add.start(QStringLiteral(QUENDA_BINARY),
                  {QStringLiteral("snippets"), QStringLiteral("add"), QString::fromLatin1(word),
                   QString::fromLatin1(word).toUpper()});
        QVERIFY(add.waitForFinished(10000));
        QCOMPARE(add.exitCode(), 0);
    }
    QTest::qWait(1500);

    QVERIFY(rightControl(true));
    QTest::qWait(300);
    QProcess player;
    player.start(QStringLiteral("paplay"), {kRecording});
    QVERIFY(player.waitForFinished(60000));
    QTest::qWait(500);
    QVERIFY(rightControl(false));

    QVERIFY2(waitForOutput(quenda, output, "Insertion: Inserted into", 60000),
             (output + quenda.readAllStandardError()).constData());
    const QString field = editor.get("multi");
    qInfo().noquote() << "field after the dictation:" << field;
    int heard = 0;
    for (const char* word : kWords)
        heard += field.contains(QString::fromLatin1(word).toUpper()) ? 1 : 0;
    QVERIFY2(heard >= 2, qPrintable(field));

    quenda.terminate(); // SIGTERM: the command stops like on Ctrl+C
    QVERIFY(quenda.waitForFinished(10000));
    QCOMPARE(quenda.exitCode(), 0);
    QVERIFY(quenda.readAllStandardError().contains("Quenda stopped."));
}

QTEST_GUILESS_MAIN(TestDictationEndToEnd)
#include "tst_dictation_e2e.moc"
