#include "base/Scheduler.h"
#include "base/VirtualScheduler.h"
#include "fakes/LogCapture.h"
#include "fakes/Waiting.h"
#include "training/TrainingDataLogger.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace quenda;
using namespace quenda::fakes;

namespace {

// The backend's upload as the test answers it: at once, or held until the test lets it finish.
class FakeUploader final : public TrainingUploader {
public:
    bool hasAuthToken() const override { return signedIn; }
    void uploadTrainingEntries(const QList<TrainingEntry>& entries,
                               std::function<void(std::optional<QString>)> done) override
    {
        QMutexLocker locker(&mutex);
        uploads.append(entries);
        if (hold) {
            pending.append(std::move(done));
            return;
        }
        locker.unlock();
        done(failure);
    }
    void finishOne()
    {
        std::function<void(std::optional<QString>)> done;
        {
            QMutexLocker locker(&mutex);
            done = pending.takeFirst();
        }
        done(failure); // from the test's thread, as a network reply would come from another thread
    }
    int uploadCount()
    {
        QMutexLocker locker(&mutex);
        return int(uploads.size());
    }
    QList<TrainingEntry> lastUpload()
    {
        QMutexLocker locker(&mutex);
        return uploads.last();
    }

    std::atomic_bool signedIn{true};
    bool hold = false;
    std::optional<QString> failure;
    QMutex mutex;
    QList<QList<TrainingEntry>> uploads;
    QList<std::function<void(std::optional<QString>)>> pending;
};

TrainingEntry entry(const QString& raw, const QString& enhanced)
{
    return TrainingEntry{raw,
                         enhanced,
                         QStringLiteral("org.app"),
                         QStringLiteral("2026-12-06T11:44:48Z"),
                         std::nullopt,
                         std::nullopt,
                         std::nullopt};
}

struct Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("data/Quenda/training-data.jsonl"));
    VirtualScheduler clock;
    FakeUploader uploader;
    LogCapture logs;
    TrainingDataLogger logger{path, &uploader, [this] { return clock.now(); }};

    QByteArray contents() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void write(const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    void logEntries(int count)
    {
        for (int i = 0; i < count; ++i)
            logger.log(entry(QStringLiteral("raw %1").arg(i), QStringLiteral("Enhanced %1.").arg(i)));
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
    void noLogMeansNothing();
    void appendsOneLinePerEntry();
    void absentMembersAreOmitted();
    void readersSkipUndecodableLines();
    void feedbackRewritesTheMostRecentMatch();
    void feedbackWithoutMatchLeavesTheFileAlone();
    void exportRules();
    void logLivesInTheUsersDataFolder();
    void syncNeedsATokenAndEntries();
    void syncEveryFiveMinutesWhenTheLogGrew();
    void forcedSyncUploadsWhateverIsThere();
    void failedSyncKeepsTheFieldsAndRetries();
    void overlappingSyncsDoNotInterleave();
    void syncSeesTheEntryLoggedJustBefore();
    void decoderNeverThrowsUp_data();
    void decoderNeverThrowsUp();
};

void TestTrainingDataLogger::noLogMeansNothing()
{
    Rig rig;
    QVERIFY(rig.logger.allEntries().isEmpty());
    QCOMPARE(rig.logger.flaggedCount(), 0);
    QCOMPARE(rig.logger.exportForFineTuning(), QString());
}

void TestTrainingDataLogger::appendsOneLinePerEntry()
{
    Rig rig;
    rig.logger.log(entry(QStringLiteral("um hi"), QStringLiteral("Hi.")));
    rig.logger.waitForPendingWork();
    QByteArray contents = rig.contents();
    QCOMPARE(contents.count('\n'), 1);
    QVERIFY(contents.endsWith('\n'));
    rig.logger.log(entry(QStringLiteral("second"), QStringLiteral("Second.")));
    rig.logger.waitForPendingWork();
    contents = rig.contents();
    QCOMPARE(contents.count('\n'), 2);
    QCOMPARE(rig.logger.allEntries(),
             (QList<TrainingEntry>{entry(QStringLiteral("um hi"), QStringLiteral("Hi.")),
                                   entry(QStringLiteral("second"), QStringLiteral("Second."))}));
    QCOMPARE(rig.logs.lines(), (QStringList{QStringLiteral("[TrainingData] Logged pair (1 total)"),
                                            QStringLiteral("[TrainingData] Logged pair (2 total)")}));
}

void TestTrainingDataLogger::absentMembersAreOmitted()
{
    Rig rig;
    TrainingEntry bare{
        QStringLiteral("r"), QStringLiteral("e"), std::nullopt, QStringLiteral("2026-12-06T11:44:48Z"),
        std::nullopt,        std::nullopt,        std::nullopt};
    rig.logger.log(bare);
    rig.logger.waitForPendingWork();
    const QJsonObject object = QJsonDocument::fromJson(rig.contents().trimmed()).object();
    QCOMPARE(object.keys(),
             (QStringList{QStringLiteral("enhanced"), QStringLiteral("raw"), QStringLiteral("timestamp")}));
    QVERIFY(!rig.contents().contains("null"));
}

void TestTrainingDataLogger::readersSkipUndecodableLines()
{
    Rig rig;
    const QByteArray good = TrainingDataLogger::encodeLine(entry(QStringLiteral("a"), QStringLiteral("A.")));
    rig.write(good + "\n" + "{not json\n" + R"({"raw":"x","enhanced":"X."})" + "\n" + "\xff\xfe\n" +
              "[1,2]\n" + R"({"raw":"y","enhanced":"Y.","timestamp":"t","feedback":7})" + "\n\n" +
              TrainingDataLogger::encodeLine(entry(QStringLiteral("b"), QStringLiteral("B."))) + "\n" +
              R"({"raw":"half","enh)");
    const QList<TrainingEntry> entries = rig.logger.allEntries();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[1].raw, QStringLiteral("b"));
    rig.logger.log(entry(QStringLiteral("c"), QStringLiteral("C.")));
    rig.logger.waitForPendingWork();
    QCOMPARE(rig.logs.lines().last(),
             QStringLiteral("[TrainingData] Logged pair (2 total)")); // after a half line
    // A feedback rewrite keeps only what decodes.
    rig.logger.recordFeedback(QStringLiteral("A."), FeedbackType::bad, QStringLiteral("Ah."), std::nullopt);
    rig.logger.waitForPendingWork();
    QCOMPARE(rig.contents().count('\n'), 2);
    QCOMPARE(rig.logger.allEntries().size(), 2);
    QCOMPARE(rig.logger.allEntries().first().correction, QStringLiteral("Ah."));
}

void TestTrainingDataLogger::feedbackRewritesTheMostRecentMatch()
{
    Rig rig;
    rig.logger.log(entry(QStringLiteral("one"), QStringLiteral("Same.")));
    TrainingEntry noted = entry(QStringLiteral("two"), QStringLiteral("Same."));
    noted.context = QStringLiteral("old note");
    noted.correction = QStringLiteral("old correction");
    rig.logger.log(noted);
    rig.logger.log(entry(QStringLiteral("three"), QStringLiteral("Other.")));
    rig.logger.recordFeedback(QStringLiteral("Same."), FeedbackType::bad, std::nullopt,
                              QStringLiteral("note"));
    rig.logger.waitForPendingWork();
    const QList<TrainingEntry> entries = rig.logger.allEntries();
    QCOMPARE(entries.size(), 3);
    QVERIFY(!entries[0].feedback);
    QCOMPARE(entries[1].feedback, QStringLiteral("bad"));
    QVERIFY(!entries[1].correction); // an absent argument clears the field
    QCOMPARE(entries[1].context, QStringLiteral("note"));
    QVERIFY(!entries[2].feedback);
    QCOMPARE(rig.logger.flaggedCount(), 1);
    rig.logger.recordFeedback(QStringLiteral("Other."), FeedbackType::good, QStringLiteral("Fine."),
                              std::nullopt);
    rig.logger.waitForPendingWork();
    QCOMPARE(rig.logger.allEntries()[2].feedback, QStringLiteral("good"));
    QCOMPARE(rig.logger.flaggedCount(), 2);
    QVERIFY(rig.contents().endsWith("}\n"));
}

void TestTrainingDataLogger::feedbackWithoutMatchLeavesTheFileAlone()
{
    Rig rig;
    rig.write("garbage line\n" +
              TrainingDataLogger::encodeLine(entry(QStringLiteral("a"), QStringLiteral("A."))) + "\n");
    const QByteArray before = rig.contents();
    rig.logger.recordFeedback(QStringLiteral("a."), FeedbackType::bad, std::nullopt, std::nullopt);
    rig.logger.waitForPendingWork();
    QCOMPARE(rig.contents(), before);
}

void TestTrainingDataLogger::exportRules()
{
    Rig rig;
    TrainingEntry plain = entry(QStringLiteral("raw plain"), QStringLiteral("Plain."));
    TrainingEntry flagged = entry(QStringLiteral("raw flagged"), QStringLiteral("Flagged."));
    flagged.feedback = QStringLiteral("bad");
    TrainingEntry corrected = entry(QStringLiteral("raw corrected"), QStringLiteral("Wrong."));
    corrected.feedback = QStringLiteral("bad");
    corrected.correction = QStringLiteral("Right.");
    TrainingEntry automatic = entry(QStringLiteral("raw auto"), QStringLiteral("Before."));
    automatic.feedback = QStringLiteral("auto-corrected");
    automatic.correction = QStringLiteral("After.");
    for (const TrainingEntry& each : {plain, flagged, corrected, automatic})
        rig.logger.log(each);
    rig.logger.waitForPendingWork();
    QCOMPARE(rig.logger.exportForFineTuning(),
             QStringLiteral("{\"input\":\"raw plain\",\"output\":\"Plain.\"}\n"
                            "{\"input\":\"raw corrected\",\"output\":\"Right.\"}\n"
                            "{\"input\":\"raw auto\",\"output\":\"After.\"}"));
    QCOMPARE(rig.logger.flaggedCount(), 3);
}

void TestTrainingDataLogger::logLivesInTheUsersDataFolder()
{
    QCOMPARE(TrainingDataLogger::defaultLogFilePath(),
             QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                 QStringLiteral("/Quenda/training-data.jsonl"));
    Rig rig;
    QVERIFY(!QFileInfo::exists(QFileInfo(rig.path).absolutePath()));
    QCOMPARE(rig.logger.logFileURL(), rig.path);
    QVERIFY(QFileInfo(QFileInfo(rig.path).absolutePath()).isDir()); // the folder is made when asked for
}

void TestTrainingDataLogger::syncNeedsATokenAndEntries()
{
    Rig rig;
    rig.sync(true); // empty log
    QCOMPARE(rig.uploader.uploadCount(), 0);
    rig.logEntries(2);
    rig.uploader.signedIn = false;
    rig.sync(true);
    QCOMPARE(rig.uploader.uploadCount(), 0);
    QVERIFY(rig.logs.linesWith(QStringLiteral("[TrainingData] Sync")).isEmpty());
    TrainingDataLogger nowhere(rig.dir.filePath(QStringLiteral("other.jsonl")), nullptr);
    nowhere.log(entry(QStringLiteral("a"), QStringLiteral("b")));
    std::atomic_bool finished{false};
    nowhere.syncIfNeeded(true, [&] { finished = true; });
    QVERIFY(waitUntil([&] { return finished.load(); }));
}

void TestTrainingDataLogger::syncEveryFiveMinutesWhenTheLogGrew()
{
    Rig rig;
    rig.logEntries(5);
    QCOMPARE(rig.logger.lastSyncTime(), distantPast());
    rig.sync(false); // the first sync after a launch uploads at once
    QCOMPARE(rig.uploader.uploadCount(), 1);
    QCOMPARE(rig.logger.lastSyncedCount(), 5);
    QCOMPARE(rig.logger.lastSyncTime(), rig.clock.now());
    QCOMPARE(rig.logs.linesWith(QStringLiteral("[TrainingData] Synced")),
             QStringList{QStringLiteral("[TrainingData] Synced 5 entries to backend")});

    rig.clock.advance(600);
    rig.sync(false); // nothing new
    QCOMPARE(rig.uploader.uploadCount(), 1);

    rig.logEntries(1);
    const QDateTime synced = rig.logger.lastSyncTime();
    rig.sync(false); // 600 s have passed and the log grew
    QCOMPARE(rig.uploader.uploadCount(), 2);
    QCOMPARE(rig.uploader.lastUpload().size(), 6); // the whole log, not only what is new
    QVERIFY(rig.logger.lastSyncTime() > synced);

    rig.logEntries(1);
    rig.clock.advance(299);
    rig.sync(false);
    QCOMPARE(rig.uploader.uploadCount(), 2);
    rig.clock.advance(1);
    rig.sync(false);
    QCOMPARE(rig.uploader.uploadCount(), 3);
    QCOMPARE(rig.logger.lastSyncedCount(), 7);
}

void TestTrainingDataLogger::forcedSyncUploadsWhateverIsThere()
{
    Rig rig;
    rig.logEntries(3);
    rig.sync(false);
    rig.sync(true);
    rig.sync(true);
    QCOMPARE(rig.uploader.uploadCount(), 3);
}

void TestTrainingDataLogger::failedSyncKeepsTheFieldsAndRetries()
{
    Rig rig;
    rig.logEntries(2);
    rig.uploader.failure = QStringLiteral("Server error (500)");
    rig.sync(false);
    QCOMPARE(rig.logs.linesWith(QStringLiteral("[TrainingData] Sync")),
             QStringList{QStringLiteral("[TrainingData] Sync failed: Server error (500)")});
    QCOMPARE(rig.logger.lastSyncedCount(), 0);
    QCOMPARE(rig.logger.lastSyncTime(), distantPast());
    rig.uploader.failure.reset();
    rig.sync(false);
    QCOMPARE(rig.uploader.uploadCount(), 2);
    QCOMPARE(rig.logger.lastSyncedCount(), 2);
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
    QVERIFY(waitUntil([&] { return rig.uploader.uploadCount() == 1; }));
    rig.logger.syncIfNeeded(false, [&] {
        secondSawFirst = firstDone.load();
        ++finished;
    });
    rig.logger.waitForPendingWork();
    QCOMPARE(rig.uploader.uploadCount(), 1); // the second waits for the first to finish
    QCOMPARE(finished.load(), 0);
    rig.uploader.finishOne();
    QVERIFY(waitUntil([&] { return finished.load() == 2; }));
    QVERIFY(secondSawFirst.load());
    // Decided on the fields the first one wrote: nothing new since, so no second upload.
    QCOMPARE(rig.uploader.uploadCount(), 1);
    QCOMPARE(rig.logger.lastSyncedCount(), 4);

    // Two forced syncs asked for together upload one after the other, never at once.
    rig.logger.syncIfNeeded(true, [&] { ++finished; });
    rig.logger.syncIfNeeded(true, [&] { ++finished; });
    QVERIFY(waitUntil([&] { return rig.uploader.uploadCount() == 2; }));
    rig.logger.waitForPendingWork();
    QCOMPARE(rig.uploader.uploadCount(), 2);
    rig.uploader.finishOne();
    QVERIFY(waitUntil([&] { return rig.uploader.uploadCount() == 3; }));
    rig.uploader.finishOne();
    QVERIFY(waitUntil([&] { return finished.load() == 4; }));
}

void TestTrainingDataLogger::syncSeesTheEntryLoggedJustBefore()
{
    Rig rig;
    rig.logger.log(entry(QStringLiteral("a"), QStringLiteral("A.")));
    rig.sync(false);
    QCOMPARE(rig.uploader.uploadCount(), 1);
    QCOMPARE(rig.uploader.lastUpload().size(), 1);
}

void TestTrainingDataLogger::decoderNeverThrowsUp_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("count");
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("newlines") << QByteArray("\n\n\n") << 0;
    QTest::newRow("crlf") << QByteArray(R"({"raw":"a","enhanced":"b","timestamp":"t"})"
                                        "\r\n")
                          << 1;
    QTest::newRow("null optional") << QByteArray(R"({"raw":"a","enhanced":"b","timestamp":"t","app":null})")
                                   << 1;
    QTest::newRow("nul bytes") << QByteArray("\0\0\n", 3) << 0;
    QTest::newRow("deep nesting") << QByteArray(100000, '[') << 0;
}

void TestTrainingDataLogger::decoderNeverThrowsUp()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, count);
    QCOMPARE(TrainingDataLogger::decodeLog(contents).size(), count);
}

QTEST_GUILESS_MAIN(TestTrainingDataLogger)
#include "tst_trainingdatalogger.moc"
