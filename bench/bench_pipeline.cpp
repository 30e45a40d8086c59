// Measures what the dictation pipeline adds on top of the clean-up service: from a streamed piece
// arriving on a network thread to its keystrokes being typed on the main queue, and from the last piece
// to the dictation being recorded. Runs the real orchestrator on the Qt event loop with in-process
// stand-ins for the devices, so only the pipeline's own cost is measured.
#include "base/Log.h"
#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "core/DictationOrchestrator.h"
#include "fakes/PipelineFakes.h"
#include "text/SnippetManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace quenda;
using namespace quenda::fakes;

namespace {

// Notes the moment each piece is typed.
class TimedTyper final : public KeyTyper {
public:
    bool typeText(const QString&) override
    {
        typedAt.push_back(clock.nsecsElapsed());
        return true;
    }
    QElapsedTimer clock;
    std::vector<qint64> typedAt;
};

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Log::setSink([](const QString&) {});
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("bench.conf")));
    QtScheduler mainQueue;
    SnippetManager snippets(defaults);
    PipelineFakes pipeline;
    // No target to bring forward, so no pause before the clean-up: only the pipeline is measured.
    pipeline.inserter.target.reset();
    pipeline.workspace.front.reset();
    TimedTyper timedTyper;
    auto* hotkey = &pipeline.hotkey;
    auto* recognizer = &pipeline.recognizer;
    auto* enhancer = &pipeline.enhancer;
    auto* typer = &timedTyper;
    enhancer->available = true;

    DictationCollaborators c = pipeline.collaborators(mainQueue, defaults, snippets);
    c.keyTyper = typer;
    DictationOrchestrator orchestrator(c);
    orchestrator.configurePipeline();

    constexpr int runs = 200;
    constexpr int piecesPerRun = 40;
    std::vector<double> pieceLatency;
    std::vector<double> endLatency;
    typer->clock.start();
    for (int run = 0; run < runs; ++run) {
        hotkey->press();
        recognizer->emitResult(QStringLiteral("one two three four five"), false);
        QCoreApplication::processEvents();
        hotkey->release();
        recognizer->emitResult(QStringLiteral("one two three four five"), true);
        QEventLoop loop;
        QObject::connect(&orchestrator, &DictationOrchestrator::stateChanged, &loop, [&] {
            if (orchestrator.state().isIdle())
                loop.quit();
        });
        while (enhancer->requests.isEmpty())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); // the 100 ms re-activation pause
        typer->typedAt.clear();
        std::vector<qint64> sentAt;
        auto request = enhancer->requests.takeLast();
        std::thread network([&] {
            for (int i = 0; i < piecesPerRun; ++i) {
                sentAt.push_back(typer->clock.nsecsElapsed());
                request.onToken(QStringLiteral("word%1 ").arg(i));
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            sentAt.push_back(typer->clock.nsecsElapsed());
            request.done(EnhancementResult{QStringLiteral("done"), true, std::nullopt});
        });
        loop.exec();
        const qint64 endedAt = typer->clock.nsecsElapsed();
        network.join();
        for (int i = 0; i < piecesPerRun; ++i)
            pieceLatency.push_back(
                static_cast<double>(typer->typedAt[static_cast<size_t>(i)] - sentAt[static_cast<size_t>(i)]) /
                1e6);
        endLatency.push_back(static_cast<double>(endedAt - sentAt.back()) / 1e6);
    }
    std::printf("piece on network thread -> typed on main queue: median %.3f ms, p95 %.3f ms (%d pieces)\n",
                percentile(pieceLatency, 0.5), percentile(pieceLatency, 0.95), runs * piecesPerRun);
    std::printf("last piece -> dictation recorded and idle: median %.3f ms, p95 %.3f ms (%d dictations)\n",
                percentile(endLatency, 0.5), percentile(endLatency, 0.95), runs);
    return orchestrator.recentDictations().size() == DictationOrchestrator::maxRecentDictations ? 0 : 1;
}
