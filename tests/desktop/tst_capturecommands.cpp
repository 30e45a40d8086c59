#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString recording = QStringLiteral(
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav");

struct Run {
    int status = -1;
    QStringList out;
    QString err;
};

Run quenda(const QStringList& args, const std::function<void()>& whileRunning = {},
           const QString& configHome = {})
{
    QProcess process;
    if (!configHome.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        process.setProcessEnvironment(env);
    }
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
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("no file") << QStringList{QStringLiteral("transcribe")} << 2
                                 << QStringLiteral("quenda: transcribe takes one FILE.wav");
        QTest::newRow("missing file")
            << QStringList{QStringLiteral("transcribe"), QStringLiteral("/nonexistent.wav")} << 1
            << QStringLiteral("quenda: cannot read /nonexistent.wav: No such file or directory");
        QTest::newRow("bad duration")
            << QStringList{QStringLiteral("listen"), QStringLiteral("--seconds"), QStringLiteral("soon")} << 2
            << QStringLiteral("quenda: --seconds takes a positive number");
    }

    void badInput()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        const Run run = quenda(args);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
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

    // The whisper engine on a generated model says its one word (a model it cannot use making way for
    // PocketSphinx is the engine selector's own test).
    void whisperEngineOrItsFallback_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("finalText");
        QTest::addColumn<QString>("logged");
        const QString models = QStringLiteral(QUENDA_TEST_MODELS);
        QTest::newRow("generated model")
            << models + QStringLiteral("/ggml-test.en.bin") << QStringLiteral("hello")
            << QStringLiteral("[Whisper] Loaded ggml-test.en.bin");
    }
    void whisperEngineOrItsFallback()
    {
        QFETCH(QString, model);
        QFETCH(QString, finalText);
        QFETCH(QString, logged);
        QTemporaryDir config;
        for (const auto& [key, value] : {std::pair(QStringLiteral("speechEngine"), QStringLiteral("whisper")),
                                         std::pair(QStringLiteral("whisperModelPath"), model)})
            QCOMPARE(quenda({QStringLiteral("config"), QStringLiteral("set"), key, value}, {}, config.path())
                         .status,
                     0);
        const Run run = quenda({QStringLiteral("transcribe"), recording}, {}, config.path());
        const QString all = run.out.join(QLatin1Char('\n')) + run.err;
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.last().startsWith(finalText), qPrintable(all));
        QVERIFY2(all.contains(logged), qPrintable(all));
    }
};

QTEST_GUILESS_MAIN(TestCaptureCommands)
#include "tst_capturecommands.moc"
