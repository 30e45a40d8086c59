#include "base/VirtualScheduler.h"
#include "fakes/FileChecks.h"
#include "fakes/LogCapture.h"
#include "fakes/Waiting.h"
#include "training/TrainingDataLogger.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace quenda;
using namespace quenda::fakes;

namespace {

using Done = std::function<void(std::optional<QString>)>;

// The backend's upload as the test answers it: at once, or held until the test lets it finish.
class FakeUploader final : public TrainingUploader {
public:
    bool hasAuthToken() const override { return signedIn; }
    void uploadTrainingEntries(const QList<TrainingEntry>& entries, Done done) override
    {
        QMutexLocker locker(&mutex);
        lastSize = int(entries.size());
        ++uploads;
        if (hold)
            return pending.append(std::move(done));
        locker.unlock();
        done(failure);
    }
    void finishOne() // from the test's thread, as a network reply would come from another thread
    {
        QMutexLocker locker(&mutex);
        Done done = pending.takeFirst();
        locker.unlock();
        done(failure);
    }

    std::atomic_bool signedIn{true};
    std::atomic_int uploads{0};
    std::atomic_int lastSize{0};
    bool hold = false;
    std::optional<QString> failure;
    QMutex mutex;
    QList<Done> pending;
};

TrainingEntry entry(const QString& raw, const QString& enhanced, std::optional<QString> feedback = {},
                    std::optional<QString> correction = {})
{
    const QString app = QStringLiteral("org.app"), time = QStringLiteral("2026-12-06T11:44:48Z");
    return {raw, enhanced, app, time, feedback, correction, std::nullopt};
}

struct Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("data/Quenda/training-data.jsonl"));
    VirtualScheduler clock;
    FakeUploader uploader;
    LogCapture logs; // keeps the log lines out of the output
    TrainingDataLogger logger{path, &uploader, [this] { return clock.now(); }};

    QByteArray contents() const { return fakes::contents(path); }
    void log(const QList<TrainingEntry>& entries)
    {
        for (const TrainingEntry& each : entries)
            logger.log(each);
        logger.waitForPendingWork();
    }
    void logEntries(int count)
    {
        for (int i = 0; i < count; ++i)
            logger.log(entry(QStringLiteral("raw %1").arg(i), QStringLiteral("Enhanced %1.").arg(i)));
        logger.waitForPendingWork();
    }
    void feedback(const QString& enhanced, FeedbackType type, std::optional<QString> correction,
                  std::optional<QString> context)
    {
        logger.recordFeedback(enhanced, type, correction, context);
        logger.waitForPendingWork();
    }
    // Runs a sync and waits until its completion has been called.
    void sync(bool force)
    {
        std::atomic_bool finished{false};
        logger.syncIfNeeded(force, [&] { finished = true; });
        QVERIFY(waitUntil([&] { return finished.load(); }));
    }
};

} // namespace

class TestTrainingDataLogger : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readersSkipUndecodableLines();
    void feedbackRewritesTheMostRecentMatch();
    void exportRules();
    void syncEveryFiveMinutesWhenTheLogGrew();
    void overlappingSyncsDoNotInterleave();
    void aKilledWriterLosesAtMostItsLastLine();
};

void TestTrainingDataLogger::readersSkipUndecodableLines()
{
    Rig rig;
    const QByteArray good = TrainingDataLogger::encodeLine(entry(QStringLiteral("a"), QStringLiteral("A.")));
    QVERIFY(writeFile(rig.path,
                      good + "\n" + "{not json\n" + R"({"raw":"x","enhanced":"X."})" + "\n" + "\xff\xfe\n" +
                          "[1,2]\n" + R"({"raw":"y","enhanced":"Y.","timestamp":"t","feedback":7})" + "\n\n" +
                          TrainingDataLogger::encodeLine(entry(QStringLiteral("b"), QStringLiteral("B."))) +
                          "\n" + R"({"raw":"half","enh)"));
    const QList<TrainingEntry> entries = rig.logger.allEntries();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[1].raw, QStringLiteral("b"));
    // A line cut short by a crash does not swallow the next one.
    rig.log({entry(QStringLiteral("c"), QStringLiteral("C."))});
    // A feedback rewrite changes its line and keeps every other, those it cannot decode included.
    const QByteArray before = rig.contents();
    rig.feedback(QStringLiteral("A."), FeedbackType::bad, QStringLiteral("Ah."), std::nullopt);
    QCOMPARE(rig.contents().count('\n'), before.count('\n'));
    QCOMPARE(rig.contents().mid(rig.contents().indexOf('\n')), before.mid(before.indexOf('\n')));
    QCOMPARE(rig.logger.allEntries().size(), 3);
    QCOMPARE(rig.logger.allEntries().first().correction, QStringLiteral("Ah."));
    QVERIFY(onlyTheUserCanRead(rig.path));
    // Without a match (the comparison is exact) the file is left alone.
    const QByteArray rewritten = rig.contents();
    rig.feedback(QStringLiteral("a."), FeedbackType::bad, std::nullopt, std::nullopt);
    QCOMPARE(rig.contents(), rewritten);

    QCOMPARE(TrainingDataLogger::decodeLog(QByteArray(100000, '[')).size(), 0); // deep nesting
}

// (Counting, flagging and exporting through the settings window: the settings model's tests.)
void TestTrainingDataLogger::feedbackRewritesTheMostRecentMatch()
{
    Rig rig;
    QList<TrainingEntry> entries{
        entry(QStringLiteral("one"), QStringLiteral("Same.")),
        entry(QStringLiteral("two"), QStringLiteral("Same."), {}, QStringLiteral("old")),
        entry(QStringLiteral("three"), QStringLiteral("Other."))};
    entries[1].context = QStringLiteral("old note");
    rig.log(entries);
    QVERIFY(onlyTheUserCanRead(rig.path));
    QVERIFY(onlyTheUserCanRead(QFileInfo(rig.path).absolutePath()));
    rig.feedback(QStringLiteral("Same."), FeedbackType::bad, std::nullopt, QStringLiteral("note"));
    rig.feedback(QStringLiteral("Other."), FeedbackType::good, std::nullopt, std::nullopt);
    entries[1] =
        entry(QStringLiteral("two"), QStringLiteral("Same."), QStringLiteral("bad")); // no correction
    entries[1].context = QStringLiteral("note");
    entries[2].feedback = QStringLiteral("good");
    QCOMPARE(rig.logger.allEntries(), entries);
    QVERIFY(rig.contents().endsWith("}\n"));
}

void TestTrainingDataLogger::exportRules()
{
    Rig rig;
    rig.log({entry(QStringLiteral("raw plain"), QStringLiteral("Plain.")),
             entry(QStringLiteral("raw flagged"), QStringLiteral("Flagged."), QStringLiteral("bad")),
             entry(QStringLiteral("raw corrected"), QStringLiteral("Wrong."), QStringLiteral("bad"),
                   QStringLiteral("Right.")),
             entry(QStringLiteral("raw auto"), QStringLiteral("Before."), QStringLiteral("auto-corrected"),
                   QStringLiteral("After."))});
    QCOMPARE(rig.logger.exportForFineTuning(),
             QStringLiteral("{\"input\":\"raw plain\",\"output\":\"Plain.\"}\n"
                            "{\"input\":\"raw corrected\",\"output\":\"Right.\"}\n"
                            "{\"input\":\"raw auto\",\"output\":\"After.\"}"));
}

void TestTrainingDataLogger::syncEveryFiveMinutesWhenTheLogGrew()
{
    Rig rig;
    rig.sync(true); // an empty log: nothing to send
    rig.logEntries(5);
    rig.uploader.signedIn = false;
    rig.sync(true);
    QCOMPARE(rig.uploader.uploads.load(), 0);
    rig.uploader.signedIn = true;
    rig.sync(false); // the first sync after a launch uploads at once
    QCOMPARE(rig.uploader.uploads.load(), 1);
    QCOMPARE(rig.logger.lastSyncedCount(), 5);

    rig.clock.advance(600);
    rig.sync(false); // nothing new
    QCOMPARE(rig.uploader.uploads.load(), 1);

    rig.logger.log(entry(QStringLiteral("new"), QStringLiteral("New.")));
    rig.sync(false); // 600 s have passed and the log grew, by an entry logged just before
    QCOMPARE(rig.uploader.uploads.load(), 2);
    QCOMPARE(rig.uploader.lastSize.load(), 6); // the whole log, not only what is new

    rig.logEntries(1);
    rig.clock.advance(299);
    rig.sync(false);
    QCOMPARE(rig.uploader.uploads.load(), 2);
    rig.clock.advance(1);
    rig.sync(false);
    QCOMPARE(rig.uploader.uploads.load(), 3);
    QCOMPARE(rig.logger.lastSyncedCount(), 7);
    rig.sync(true); // forced: uploads whatever is there
    QCOMPARE(rig.uploader.uploads.load(), 4);

    // A failed upload changes neither field, so the next sync tries again at once.
    rig.logEntries(1);
    rig.clock.advance(300);
    rig.uploader.failure = QStringLiteral("Server error (500)");
    rig.sync(false);
    QCOMPARE(rig.logger.lastSyncedCount(), 7);
    rig.uploader.failure.reset();
    rig.sync(false);
    QCOMPARE(rig.uploader.uploads.load(), 6);
    QCOMPARE(rig.logger.lastSyncedCount(), 8);
}

void TestTrainingDataLogger::overlappingSyncsDoNotInterleave()
{
    Rig rig;
    rig.logEntries(4);
    rig.uploader.hold = true;
    std::atomic_int finished{0};
    std::atomic_bool firstDone{false};
    std::atomic_bool secondSawFirst{false};
    rig.logger.syncIfNeeded(false, [&] {
        firstDone = true;
        ++finished;
    });
    QVERIFY(waitUntil([&] { return rig.uploader.uploads.load() == 1; }));
    rig.logger.syncIfNeeded(false, [&] {
        secondSawFirst = firstDone.load();
        ++finished;
    });
    rig.logger.waitForPendingWork();
    QCOMPARE(rig.uploader.uploads.load(), 1); // the second waits for the first to finish
    QCOMPARE(finished.load(), 0);
    rig.uploader.finishOne();
    QVERIFY(waitUntil([&] { return finished.load() == 2; }));
    QVERIFY(secondSawFirst.load());
    // Decided on the fields the first one wrote: nothing new since, so no second upload.
    QCOMPARE(rig.uploader.uploads.load(), 1);
    QCOMPARE(rig.logger.lastSyncedCount(), 4);

    // Two forced syncs asked for together upload one after the other, never at once.
    rig.logger.syncIfNeeded(true, [&] { ++finished; });
    rig.logger.syncIfNeeded(true, [&] { ++finished; });
    QVERIFY(waitUntil([&] { return rig.uploader.uploads.load() == 2; }));
    rig.logger.waitForPendingWork();
    QCOMPARE(rig.uploader.uploads.load(), 2);
    rig.uploader.finishOne();
    QVERIFY(waitUntil([&] { return rig.uploader.uploads.load() == 3; }));
    rig.uploader.finishOne();
    QVERIFY(waitUntil([&] { return finished.load() == 4; }));
}

void TestTrainingDataLogger::aKilledWriterLosesAtMostItsLastLine()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("training-data.jsonl"));
    QProcess writer;
    writer.start(QStringLiteral(TRAINING_LOG_WRITER), {path, QStringLiteral("10000")});
    QVERIFY(writer.waitForStarted());
    int reached = 0;
    while (reached < 3000 && writer.waitForReadyRead(20000)) {
        while (writer.canReadLine())
            reached = writer.readLine().trimmed().toInt();
    }
    QVERIFY2(reached >= 3000, "the writer stopped reporting");
    writer.kill(); // SIGKILL, in the middle of appends and rewrites
    QVERIFY(writer.waitForFinished());

    QList<QByteArray> lines = contents(path).split('\n');
    const QByteArray last = lines.takeLast(); // empty, or the one line the kill cut short
    QVERIFY(last.isEmpty() || !TrainingDataLogger::decodeLine(last));
    QVERIFY(lines.size() >= reached);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const std::optional<TrainingEntry> decoded = TrainingDataLogger::decodeLine(lines[i]);
        QVERIFY2(decoded && decoded->raw == QStringLiteral("pair %1").arg(i), lines[i].constData());
        // Every flag the writer had made by then is still there.
        if (i % 50 == 39 && i + 10 < reached)
            QCOMPARE(decoded->correction, QStringLiteral("Corrected."));
    }
}

QTEST_GUILESS_MAIN(TestTrainingDataLogger)
#include "tst_trainingdatalogger.moc"
