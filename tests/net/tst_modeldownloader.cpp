#include "base/QtScheduler.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FileChecks.h"
#include "net/ModelDownloader.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using fakes::FakeHttpServer;
using fakes::FakeReply;
using fakes::RecordedRequest;

namespace {

// A model-sized stand-in: random bytes, so that any byte out of place changes the checksum.
QByteArray payload()
{
    QByteArray bytes(300 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return bytes;
}

// Serves the file as a server that honours ranges does, or one that ignores them; the first reply breaks off
// after `cutAfter` bytes.
FakeReply rangeServer(const RecordedRequest& request, const QByteArray& file, qsizetype cutAfter, int& served,
                      bool honoursRanges = true)
{
    static const QRegularExpression range(QStringLiteral("^bytes=(\\d+)-$"));
    const auto match =
        range.match(QString::fromLatin1(honoursRanges ? request.header("range") : QByteArray()));
    const qsizetype from = match.hasMatch() ? match.captured(1).toLongLong() : 0;
    const bool cut = served++ == 0 && cutAfter > 0;
    const QByteArray body = file.mid(from, cut ? cutAfter : -1);
    FakeReply reply = FakeReply::text(from > 0 ? 206 : 200, {}, "application/octet-stream");
    // In pieces, so that progress is seen and a cut falls mid-body.
    for (qsizetype at = 0; at < body.size(); at += 64 * 1024)
        reply.body.append({body.mid(at, 64 * 1024), 0});
    if (from > 0)
        reply.headers.append({"Content-Range", "bytes " + QByteArray::number(from) + '-' +
                                                   QByteArray::number(file.size() - 1) + '/' +
                                                   QByteArray::number(file.size())});
    if (cut) {
        reply.ending = FakeReply::Ending::Disconnect;
        reply.framing = FakeReply::Framing::CloseDelimited;
    }
    return reply;
}

struct Outcome {
    std::optional<QString> error;
    QList<ModelDownloader::Progress> progress;
};

} // namespace

class TestModelDownloader : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QtScheduler m_queue;
    const QByteArray m_file = payload();

    QString destination() const { return m_dir.filePath(QStringLiteral("models/ggml-test.bin")); }

    ModelDownloader::Target target(const QUrl& origin) const
    {
        const QByteArray sha1 = QCryptographicHash::hash(m_file, QCryptographicHash::Sha1).toHex();
        return {
            origin.resolved(QUrl(QStringLiteral("ggml-test.bin"))), destination(), m_file.size(), sha1, {}};
    }

    Outcome download(ModelDownloader::Target target)
    {
        ModelDownloader downloader(m_queue);
        Outcome outcome;
        bool done = false;
        downloader.start(
            std::move(target), [&](const ModelDownloader::Progress& p) { outcome.progress << p; },
            [&](std::optional<QString> error) {
                outcome.error = std::move(error);
                done = true;
            });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(done, 20000); }();
        return outcome;
    }

    QByteArray installed() const { return fakes::contents(destination()); }

private Q_SLOTS:
    void init()
    {
        QFile::remove(destination());
        QFile::remove(ModelDownloader::partPath(destination()));
    }

    // A transfer that breaks off, or a part an earlier run left (cancelled, or the process ended), is taken
    // up where it stopped; a server that ignores the range starts the file over; either way the result is the
    // exact file, readable by the user only.
    void transfersEndInTheExactFile_data()
    {
        QTest::addColumn<bool>("honoursRanges");
        QTest::addColumn<int>("leftBefore"); // bytes an earlier run left in the part
        QTest::addColumn<int>("cut");        // where the first reply breaks off; 0: it does not
        QTest::newRow("in one go") << true << 0 << 0;
        QTest::newRow("resumed with a range") << true << 0 << 100 * 1024;
        QTest::newRow("started over") << false << 0 << 100 * 1024;
        QTest::newRow("an earlier run's part") << true << 200 * 1024 << 0;
    }
    void transfersEndInTheExactFile()
    {
        QFETCH(bool, honoursRanges);
        QFETCH(int, leftBefore);
        QFETCH(int, cut);
        if (leftBefore > 0) {
            QVERIFY(fakes::writeFile(ModelDownloader::partPath(destination()), m_file.left(leftBefore)));
        }
        FakeHttpServer server;
        int served = 0;
        server.setHandler([&](const RecordedRequest& request) {
            return rangeServer(request, m_file, cut, served, honoursRanges);
        });
        const Outcome outcome = download(target(server.url()));
        QVERIFY2(!outcome.error, qPrintable(outcome.error.value_or(QString())));
        QCOMPARE(installed(), m_file);
        QVERIFY(fakes::onlyTheUserCanRead(destination()));
        QVERIFY(!QFile::exists(ModelDownloader::partPath(destination())));
        const qsizetype resumed = leftBefore > 0 ? leftBefore : cut;
        if (resumed == 0)
            return;
        // (Qt may repeat a request on its own when a connection closes under it.)
        QStringList ranges;
        for (const RecordedRequest& request : server.requests())
            ranges << QString::fromLatin1(request.header("range"));
        QCOMPARE(ranges.first(), leftBefore > 0 ? QStringLiteral("bytes=%1-").arg(leftBefore) : QString());
        QVERIFY2(ranges.contains(QStringLiteral("bytes=%1-").arg(resumed)), qPrintable(ranges.join(u',')));
        QCOMPARE(outcome.progress.last().resumedAt, honoursRanges ? resumed : -1);
    }

    // (A damaged file and a refused request: the settings model's download table.)
    void badDownloadsNeverReachTheirPlace()
    {
        for (const bool wrongSize : {true, false}) { // else the file's structure is refused
            FakeHttpServer server;
            server.enqueue(FakeReply::text(200, wrongSize ? m_file.left(1000) : m_file));
            ModelDownloader::Target t = target(server.url());
            if (!wrongSize)
                t.validate = [](const QString&) {
                    return std::optional<QString>(QStringLiteral("not a model"));
                };
            const std::optional<QString> error = download(t).error;
            const QString reason =
                wrongSize ? QStringLiteral("offers 1000 bytes") : QStringLiteral("unusable (not a model)");
            QVERIFY2(error && error->contains(reason), qPrintable(error.value_or(QString())));
            QVERIFY(!QFile::exists(destination()));
            QVERIFY(!QFile::exists(ModelDownloader::partPath(destination())));
        }
    }
};

QTEST_GUILESS_MAIN(TestModelDownloader)
#include "tst_modeldownloader.moc"
