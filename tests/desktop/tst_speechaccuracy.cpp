#include "base/QtScheduler.h"
#include "capture/AudioCaptureManager.h"
#include "capture/SpeechRecognizer.h"
#include "platform/linux/PocketSphinxEngine.h"
#include "platform/linux/PulseAudioInput.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <atomic>

using namespace quenda;

namespace {

const QString dataDir = QStringLiteral("/usr/share/pocketsphinx/test/data/librivox");

// Word-level edit distance.
int editDistance(const QString& referenceText, const QString& hypothesisText)
{
    const QStringList reference = referenceText.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QStringList hypothesis = hypothesisText.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QList<int> previous(hypothesis.size() + 1);
    for (int j = 0; j <= hypothesis.size(); ++j)
        previous[j] = j;
    for (int i = 1; i <= reference.size(); ++i) {
        QList<int> current(hypothesis.size() + 1);
        current[0] = i;
        for (int j = 1; j <= hypothesis.size(); ++j) {
            const int substitution = previous[j - 1] + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
        }
        previous = current;
    }
    return previous[hypothesis.size()];
}

// The reference transcripts: "<s> words </s> (file-id)" per line.
QHash<QString, QString> references()
{
    QHash<QString, QString> result;
    QFile file(dataDir + QStringLiteral("/transcription"));
    if (!file.open(QIODevice::ReadOnly))
        return result;
    static const QRegularExpression line(QStringLiteral(R"(^<s>\s*(.*?)\s*</s>\s*\((\S+)\))"));
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const auto match = line.match(QString::fromUtf8(raw).trimmed());
        if (match.hasMatch())
            result.insert(match.captured(2), match.captured(1));
    }
    return result;
}

// The engine's own command-line decoder on the file.
QString commandLineDecoder(const QString& wav)
{
    QProcess decoder;
    decoder.start(QStringLiteral("pocketsphinx_continuous"),
                  {QStringLiteral("-infile"), wav, QStringLiteral("-logfn"), QStringLiteral("/dev/null")});
    if (!decoder.waitForFinished(120000))
        return {};
    return QString::fromUtf8(decoder.readAllStandardOutput()).simplified();
}

} // namespace

class TestSpeechAccuracy : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noWorseThanTheCommandLineDecoder()
    {
        const QHash<QString, QString> reference = references();
        QVERIFY2(reference.size() == 5, "pocketsphinx-testdata is missing");
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pocketsphinx_continuous")).isEmpty(),
                 "pocketsphinx_continuous is missing");

        QtScheduler queue;
        // The model loads when the first recording starts and again after it is released: the audio
        // that comes meanwhile waits for it, so the words of each recording must all be there.
        auto engine = std::make_shared<PocketSphinxEngine>();
        QVERIFY(engine->isAvailable() && !engine->isModelLoaded());
        PulseAudioInput input;
        AudioCaptureManager audio(input, queue);
        SpeechRecognizer recognizer(queue, [engine] { return engine; });
        // Sanitizer builds decode slower than real time; the final result may take a while.
        recognizer.setCleanupDelay(60);
        std::optional<QString> final;
        std::optional<QString> error;
        std::atomic_int buffers{0};
        recognizer.setOnResult([&](const DictationResult& result) {
            if (result.isFinal)
                queue.post([&, text = result.text] { final = text; });
        });
        recognizer.setOnError(
            [&](const QString& description) { queue.post([&, description] { error = description; }); });
        audio.setBufferHandler([&](const AudioBuffer& buffer) {
            ++buffers;
            recognizer.appendAudio(buffer);
        });

        int ourErrors = 0;
        int theirErrors = 0;
        QStringList ids = reference.keys();
        ids.sort();
        for (const QString& id : std::as_const(ids)) {
            const QString wav = dataDir + QLatin1Char('/') + id + QStringLiteral(".wav");
            final.reset();
            error.reset();
            QCOMPARE(recognizer.startRecognition(), std::nullopt);
            std::optional<std::optional<QString>> started;
            audio.startRecording(
                [&](std::optional<QString> failure) { queue.post([&, failure] { started = failure; }); });
            QTRY_VERIFY(started.has_value());
            QCOMPARE(*started, std::nullopt);
            QTRY_VERIFY(buffers > 0);

            QProcess player;
            player.start(QStringLiteral("paplay"), {wav});
            QVERIFY(player.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(player.state() == QProcess::NotRunning, 30000);
            QTest::qWait(400); // the tail still in the sound server
            audio.stopRecording();
            recognizer.stopRecognition();
            QTRY_VERIFY_WITH_TIMEOUT(final.has_value() || error.has_value(), 60000);
            QVERIFY2(!error, qPrintable(error.value_or(QString())));

            const QString truth = reference.value(id);
            const QString theirs = commandLineDecoder(wav);
            ourErrors += editDistance(truth, *final);
            theirErrors += editDistance(truth, theirs);
            qInfo().noquote() << id << "quenda:" << *final << "| decoder:" << theirs;
            if (id == ids.first()) {
                engine->releaseModel();
                QTRY_VERIFY(!engine->isModelLoaded());
            }
        }
        qInfo() << "word errors: quenda" << ourErrors << "decoder" << theirErrors;
        // Live audio through the sound server is not bit-identical from run to run, so a word or two either
        // way is noise; losing more than that means the capture path damages the audio.
        constexpr int noiseWords = 3;
        QVERIFY2(ourErrors <= theirErrors + noiseWords,
                 "the capture path loses accuracy against the engine's own decoder");
    }
};

QTEST_GUILESS_MAIN(TestSpeechAccuracy)
#include "tst_speechaccuracy.moc"
