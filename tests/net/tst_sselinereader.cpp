#include "net/SseLineReader.h"

#include <QTest>

using namespace quenda;

class TestSseLineReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void splitsAtEveryTerminatorWhateverTheReads_data();
    void splitsAtEveryTerminatorWhateverTheReads();
    void eachLineIsHandedOnBeforeTheNextIsLookedFor();
    void stoppingDropsTheRest();
    void veryLongLinesArriveWhole();
};

namespace {
QList<QByteArray> readAll(const QList<QByteArray>& reads)
{
    SseLineReader reader;
    QList<QByteArray> lines;
    auto collect = [&](QByteArrayView line) {
        lines << line.toByteArray();
        return true;
    };
    for (const QByteArray& bytes : reads)
        reader.feed(bytes, collect);
    reader.finish(collect);
    return lines;
}
} // namespace

void TestSseLineReader::splitsAtEveryTerminatorWhateverTheReads_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::newRow("lf") << QByteArray("a\nb\n") << QList<QByteArray>{"a", "b"};
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QList<QByteArray>{"a", "b"};
    QTest::newRow("cr") << QByteArray("a\rb\r") << QList<QByteArray>{"a", "b"};
    QTest::newRow("blank lines") << QByteArray("a\n\n\r\n\rb") << QList<QByteArray>{"a", "", "", "", "b"};
    QTest::newRow("no final terminator") << QByteArray("data: x") << QList<QByteArray>{"data: x"};
    QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
    QTest::newRow("utf8") << QByteArray("d\xc3\xa9j\xc3\xa0\nvu")
                          << QList<QByteArray>{"d\xc3\xa9j\xc3\xa0", "vu"};
}

void TestSseLineReader::splitsAtEveryTerminatorWhateverTheReads()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, lines);
    QCOMPARE(readAll({stream}), lines);
    // Every way of cutting the stream into two reads, and one byte per read, gives the same lines.
    for (qsizetype cut = 0; cut <= stream.size(); ++cut)
        QCOMPARE(readAll({stream.left(cut), stream.mid(cut)}), lines);
    QList<QByteArray> bytes;
    for (char c : stream)
        bytes << QByteArray(1, c);
    QCOMPARE(readAll(bytes), lines);
}

void TestSseLineReader::eachLineIsHandedOnBeforeTheNextIsLookedFor()
{
    SseLineReader reader;
    QList<QByteArray> seen;
    reader.feed("one\ntw", [&](QByteArrayView line) {
        seen << line.toByteArray();
        return true;
    });
    QCOMPARE(seen, QList<QByteArray>{"one"});
    QCOMPARE(reader.pendingSize(), 2);
    reader.feed("o\nthree", [&](QByteArrayView line) {
        seen << line.toByteArray();
        return true;
    });
    QCOMPARE(seen, (QList<QByteArray>{"one", "two"}));
}

void TestSseLineReader::stoppingDropsTheRest()
{
    SseLineReader reader;
    QList<QByteArray> seen;
    auto untilStop = [&](QByteArrayView line) {
        seen << line.toByteArray();
        return line != "stop";
    };
    QVERIFY(!reader.feed("a\nstop\nb\n", untilStop));
    QVERIFY(reader.isStopped());
    QVERIFY(!reader.feed("c\n", untilStop));
    QVERIFY(!reader.finish(untilStop));
    QCOMPARE(seen, (QList<QByteArray>{"a", "stop"}));
}

void TestSseLineReader::veryLongLinesArriveWhole()
{
    const QByteArray longLine(4 * 1024 * 1024, 'x');
    QList<QByteArray> reads;
    for (qsizetype at = 0; at < longLine.size(); at += 1000)
        reads << longLine.mid(at, 1000);
    reads << "\nshort\n";
    const QList<QByteArray> lines = readAll(reads);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0].size(), longLine.size());
    QCOMPARE(lines[1], QByteArray("short"));
}

QTEST_GUILESS_MAIN(TestSseLineReader)
#include "tst_sselinereader.moc"
