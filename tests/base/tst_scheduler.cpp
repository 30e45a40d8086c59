#include "base/QtScheduler.h"
#include "base/VirtualScheduler.h"

#include <QTest>

#include <thread>

using namespace quenda;

class TestScheduler : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void virtualClockRunsTasksByDueTimeThenPostingOrder();
    void postsFromOtherThreadsArrive();
    void qtSchedulerRunsPostsInOrderAndDelaysFromOtherThreads();
    void timeHelpers();
};

void TestScheduler::virtualClockRunsTasksByDueTimeThenPostingOrder()
{
    VirtualScheduler clock;
    const QDateTime start = clock.now();
    QStringList order;
    QList<double> seenAt;
    auto note = [&](const char* name) {
        return [&, name] {
            order << QString::fromLatin1(name);
            seenAt << secondsBetween(start, clock.now());
        };
    };
    clock.postAfter(0.6, note("timer"));
    clock.post(note("first"));
    clock.postAfter(0.1, [&, pause = note("pause")] {
        pause();
        clock.post(note("then"));
        clock.postAfter(0.5, note("posted by a task")); // due with the timer, posted after it
    });
    clock.post(note("second"));
    TaskHandle cancelled = clock.postAfter(0.2, note("cancelled"));
    TaskHandle(cancelled).cancel(); // through a copy
    QVERIFY(cancelled.isCancelled());
    QVERIFY(order.isEmpty()); // nothing runs until time is advanced
    clock.advance(0.1);
    QCOMPARE(order.join(QLatin1Char(' ')), QStringLiteral("first second pause then"));
    clock.advance(0.499);
    QCOMPARE(order.size(), 4);
    clock.advance(0.001);
    QCOMPARE(order.join(QLatin1Char(',')), QStringLiteral("first,second,pause,then,timer,posted by a task"));
    QCOMPARE(seenAt, (QList<double>{0, 0, 0.1, 0.1, 0.6, 0.6}));
    QCOMPARE(secondsBetween(start, clock.now()), 0.6);
}

void TestScheduler::postsFromOtherThreadsArrive()
{
    VirtualScheduler clock;
    std::atomic_int count = 0;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 500; ++i)
                    clock.post([&] { ++count; });
            });
    }
    clock.runUntilIdle();
    QCOMPARE(count.load(), 2000);
}

void TestScheduler::qtSchedulerRunsPostsInOrderAndDelaysFromOtherThreads()
{
    QtScheduler mainQueue;
    QStringList order;
    Qt::HANDLE mainThread = QThread::currentThreadId();
    bool delayedOnMain = false;
    bool cancelledRan = false;
    mainQueue.post([&] { order << QStringLiteral("1"); });
    mainQueue.post([&] { order << QStringLiteral("2"); });
    mainQueue.postAfter(10, [&] { cancelledRan = true; }).cancel();
    std::thread([&] {
        mainQueue.postAfter(0.02, [&] {
            delayedOnMain = QThread::currentThreadId() == mainThread;
            order << QStringLiteral("delayed");
        });
    }).join();
    QTRY_COMPARE(order, (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("delayed")}));
    QVERIFY(delayedOnMain);
    QVERIFY(!cancelledRan);
}

void TestScheduler::timeHelpers()
{
    const QDateTime t = QDateTime(QDate(2026, 12, 6), QTime(11, 44, 48, 731), Qt::UTC);
    QCOMPARE(iso8601(t), QStringLiteral("2026-12-06T11:44:48Z"));
    QCOMPARE(iso8601(t.toOffsetFromUtc(3600)), QStringLiteral("2026-12-06T11:44:48Z"));
}

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
