#include <QProcess>
#include <QTest>

namespace {

const QString recording = QStringLiteral(
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav");

struct Run {
    int status = -1;
    QStringList out;
    QString err;
};

Run quenda(const QStringList& args, const std::function<void()>& whileRunning = {})
{
    QProcess process;
    process.start(QStringLiteral(QUENDA_BINARY), args);
    process.waitForStarted();
    if (whileRunning)
        whileRunning();
    process.waitForFinished(120000);
    return {process.exitCode(),
            QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TestCaptureCommands : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void transcribeAFile()
    {
        const Run run = quenda({QStringLiteral("transcribe"), recording});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.size() >= 2, qPrintable(run.out.join(QLatin1Char('\n'))));
        // Partial results first, then the final text on its own line.
        for (const QString& partial : run.out.mid(0, run.out.size() - 1))
            QVERIFY(partial.startsWith(QStringLiteral("… ")));
        QVERIFY(!run.out.last().startsWith(QStringLiteral("… ")));
        QVERIFY2(run.out.last().startsWith(QStringLiteral("he was not")), qPrintable(run.out.last()));

        const Run missing = quenda({QStringLiteral("transcribe"), QStringLiteral("/nonexistent.wav")});
        QCOMPARE(missing.status, 1);
        QVERIFY2(missing.err.contains(QStringLiteral("cannot read /nonexistent.wav")),
                 qPrintable(missing.err));
    }

    void listenToTheMicrophone()
    {
        const Run run =
            quenda({QStringLiteral("listen"), QStringLiteral("--seconds"), QStringLiteral("6")}, [] {
                QTest::qWait(1000);
                QProcess::execute(QStringLiteral("paplay"), {recording});
            });
        QCOMPARE(run.status, 0);
        QVERIFY(run.err.contains(QStringLiteral("Listening")));
        QVERIFY2(!run.out.isEmpty() && run.out.last().contains(QStringLiteral("young man")),
                 qPrintable(run.out.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestCaptureCommands)
#include "tst_capturecommands.moc"
