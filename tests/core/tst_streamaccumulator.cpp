#include "core/StreamAccumulator.h"

#include <QTest>

#include <thread>
#include <vector>

using namespace quenda;

class TestStreamAccumulator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void accumulatorKeepsEveryChunkAcrossThreads();
};

void TestStreamAccumulator::accumulatorKeepsEveryChunkAcrossThreads()
{
    StreamAccumulator accumulator;

    // Writers on several threads while the main thread reads: nothing is lost or torn.
    constexpr int writers = 4;
    constexpr int chunksEach = 2000;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w)
        threads.emplace_back([&accumulator, w] {
            for (int i = 0; i < chunksEach; ++i)
                accumulator.append(QString(QChar(u'a' + w)));
        });
    qsizetype lastSeen = 0;
    for (int i = 0; i < 200; ++i) {
        const qsizetype seen = accumulator.text().size();
        QVERIFY(seen >= lastSeen);
        lastSeen = seen;
    }
    for (auto& thread : threads)
        thread.join();
    const QString text = accumulator.text();
    QCOMPARE(text.size(), writers * chunksEach);
    for (int w = 0; w < writers; ++w)
        QCOMPARE(text.count(QChar(u'a' + w)), chunksEach);
}

QTEST_GUILESS_MAIN(TestStreamAccumulator)
#include "tst_streamaccumulator.moc"
