#include "net/SseLineReader.h"

#include <QTest>

using namespace quenda;

class TestSseLineReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void splitsAtEveryTerminatorWhateverTheReads_data();
    void splitsAtEveryTerminatorWhateverTheReads();
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
    QTest::newRow("lf, crlf, cr") << QByteArray("a\nb\r\nc\r") << QList<QByteArray>{"a", "b", "c"};
    QTest::newRow("blank lines") << QByteArray("a\n\n\r\n\rb") << QList<QByteArray>{"a", "", "", "", "b"};
    QTest::newRow("no final terminator") << QByteArray("data: x") << QList<QByteArray>{"data: x"};
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

QTEST_GUILESS_MAIN(TestSseLineReader)
#include "tst_sselinereader.moc"
