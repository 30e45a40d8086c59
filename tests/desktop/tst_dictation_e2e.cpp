// A whole dictation through the real product: `quenda run` listens for the hotkey, the test holds Right
// Ctrl through XTest, a recording plays into the session's speaker (whose monitor is the microphone),
// the hotkey is released, and the recognised words must arrive in the fixture editor's focused field,
// expanded by snippets that a second process added while `quenda run` was running.
#include "DesktopRig.h"

using namespace desktop;

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

    QProcess running;
    running.start(QStringLiteral(QUENDA_BINARY), {QStringLiteral("run")});
    QVERIFY(running.waitForStarted(10000));
    QByteArray output;
    // The pipeline is wired once the hotkey listener has been restarted; the first log line comes after.
    QVERIFY2(waitForOutput(running, output, "[QuendaAPI] Using host", 20000), output.constData());

    // Snippets added from a shell while Quenda runs serve the very next dictation.
    for (const char* word : kRecordedWords)
        QCOMPARE(runQuenda({QStringLiteral("snippets"), QStringLiteral("add"), QString::fromLatin1(word),
                            QString::fromLatin1(word).toUpper()})
                     .status,
                 0);
    QTest::qWait(1500);

    QVERIFY(holdRightControl(true));
    QTest::qWait(300);
    QProcess player;
    player.start(QStringLiteral("paplay"), {kRecording});
    QVERIFY(player.waitForFinished(60000));
    QTest::qWait(500);
    QVERIFY(holdRightControl(false));

    QVERIFY2(waitForOutput(running, output, "Insertion: Inserted into", 60000), output.constData());
    const QString field = editor.get("multi");
    qInfo().noquote() << "field after the dictation:" << field;
    int heard = 0;
    for (const char* word : kRecordedWords)
        heard += field.contains(QString::fromLatin1(word).toUpper()) ? 1 : 0;
    QVERIFY2(heard >= 2, qPrintable(field));

    running.terminate(); // SIGTERM: the command stops like on Ctrl+C
    QVERIFY(running.waitForFinished(10000));
    QCOMPARE(running.exitCode(), 0);
    QVERIFY(running.readAllStandardError().contains("Quenda stopped."));
}

QTEST_GUILESS_MAIN(TestDictationEndToEnd)
#include "tst_dictation_e2e.moc"
