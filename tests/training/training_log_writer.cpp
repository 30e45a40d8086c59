// Appends numbered pairs to a training log, flagging one every fifty, and prints how many have reached the
// file after every hundred: the crash test kills it at some point and checks what is left.
#include "base/Log.h"
#include "training/TrainingDataLogger.h"

#include <QCoreApplication>

#include <cstdio>

using namespace quenda;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    Log::setSink([](const QString&) {});
    TrainingDataLogger logger(QString::fromLocal8Bit(argv[1]), nullptr);
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        logger.log(TrainingEntry{QStringLiteral("pair %1").arg(i), QStringLiteral("Pair %1.").arg(i),
                                 std::nullopt, QStringLiteral("2026-12-06T11:44:48Z"), std::nullopt,
                                 std::nullopt, std::nullopt});
        if (i % 50 == 49)
            logger.recordFeedback(QStringLiteral("Pair %1.").arg(i - 10), FeedbackType::bad,
                                  QStringLiteral("Corrected."), std::nullopt);
        if (i % 100 == 99) {
            logger.waitForPendingWork();
            std::printf("%d\n", i + 1);
            std::fflush(stdout);
        }
    }
    logger.waitForPendingWork();
    return 0;
}
