#include "DesktopRig.h"

#include <QTimer>

namespace {

const QString recording = QStringLiteral(
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav");

QStringList lines(const QString& out)
{
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestCaptureCommands : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void transcribeAFile()
    {
        const desktop::Run run = desktop::runQuenda({QStringLiteral("transcribe"), recording}, 120000);
        QCOMPARE(run.status, 0);
        const QStringList out = lines(run.out);
        QVERIFY2(out.size() >= 2, qPrintable(out.join(QLatin1Char('\n'))));
        // Partial results first, then the final text on its own line.
        for (const QString& partial : out.mid(0, out.size() - 1))
            QVERIFY(partial.startsWith(QStringLiteral("… ")));
        QVERIFY2(out.last().startsWith(QStringLiteral("he was not")), qPrintable(out.last()));

        const desktop::Run missing =
            desktop::runQuenda({QStringLiteral("transcribe"), QStringLiteral("/nonexistent.wav")});
        QCOMPARE(missing.status, 1);
        QVERIFY2(missing.err.contains(QStringLiteral("cannot read /nonexistent.wav")),
                 qPrintable(missing.err));
    }

    void listenToTheMicrophone()
    {
        QProcess player;
        QTimer::singleShot(1000, [&] { player.start(QStringLiteral("paplay"), {recording}); });
        const desktop::Run run = desktop::runQuenda(
            {QStringLiteral("listen"), QStringLiteral("--seconds"), QStringLiteral("6")}, 120000);
        QCOMPARE(run.status, 0);
        QVERIFY(run.err.contains(QStringLiteral("Listening")));
        player.waitForFinished();
        const QStringList out = lines(run.out);
        QVERIFY2(!out.isEmpty() && out.last().contains(QStringLiteral("young man")), qPrintable(run.out));
    }
};

QTEST_GUILESS_MAIN(TestCaptureCommands)
#include "tst_capturecommands.moc"
