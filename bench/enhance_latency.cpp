// Latency of the streamed clean-up: from enhanceText to the first onToken and to completion, and the cost of
// handing each streamed piece on, against a loopback Groq server whose time to first token (T) and token rate
// (R) are set. Prints medians and 95th percentiles and the overhead over T.
//
//   enhance_latency [--runs 200] [--ttft 50] [--rate 200] [--tokens 20] [--warmup 5]
//     --ttft   the server's delay before the first piece, in ms (T)
//     --rate   pieces per second after the first (R)
#include "base/Log.h"
#include "base/QtScheduler.h"
#include "base/UserDefaults.h"
#include "fakes/FakeHttpServer.h"
#include "net/KeychainStore.h"
#include "net/QuendaAPIClient.h"
#include "text/PersonalDictionary.h"
#include "text/TextEnhancer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMutex>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace quenda;
using namespace quenda::fakes;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Stats {
    double median = 0;
    double p95 = 0;
};

Stats statsOf(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        return values[std::min(values.size() - 1, size_t(q * double(values.size() - 1) + 0.5))];
    };
    return Stats{at(0.5), at(0.95)};
}

int intArgument(const QStringList& args, const QString& name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

// The times of one run, written by the server thread, the network thread and the main thread.
struct Run {
    QMutex mutex;
    std::vector<Clock::time_point> written;  // server: piece i written to the socket
    std::vector<Clock::time_point> received; // client: piece i handed to onToken
    Clock::time_point doneWritten;           // server: the [DONE] event written
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = intArgument(args, QStringLiteral("--runs"), 200);
    const int ttft = intArgument(args, QStringLiteral("--ttft"), 50);
    const int rate = std::max(1, intArgument(args, QStringLiteral("--rate"), 200));
    const int tokens = std::max(1, intArgument(args, QStringLiteral("--tokens"), 20));
    const int warmup = intArgument(args, QStringLiteral("--warmup"), 5);
    const int perToken = 1000 / rate;

    QTemporaryDir dir;
    QtScheduler mainQueue;
    UserDefaults defaults(dir.filePath(QStringLiteral("Quenda.conf")));
    PersonalDictionary dictionary(defaults, mainQueue);
    KeychainStore keychain(nullptr, dir.filePath(QStringLiteral("secrets.json")));
    keychain.save(KeychainStore::groqAccount, QStringLiteral("gsk-bench"));
    QuendaAPIClient backend(defaults, keychain, [&dictionary] { return dictionary.requestDictionary(); });

    FakeHttpServer server;
    std::shared_ptr<Run> current;
    QMutex currentMutex;
    server.setHandler([&](const RecordedRequest&) {
        QStringList pieces;
        for (int i = 0; i < tokens; ++i)
            pieces << QStringLiteral(" word%1").arg(i);
        FakeReply reply = wire::groqStream(pieces, ttft, perToken);
        std::shared_ptr<Run> run;
        {
            QMutexLocker locker(&currentMutex);
            run = current;
        }
        reply.onChunkWritten = [run, tokens](int chunk, Clock::time_point when) {
            QMutexLocker locker(&run->mutex);
            if (chunk < tokens)
                run->written.push_back(when);
            else
                run->doneWritten = when;
        };
        return reply;
    });

    TextEnhancer::Options options;
    GroqClient::Config config;
    config.url = server.url(QStringLiteral("/openai/v1/chat/completions"));
    options.groqConfig = config;
    TextEnhancer enhancer(mainQueue, backend, keychain, defaults, dictionary, options);
    {
        QEventLoop loading; // the stored key arrives on the main queue
        bool loaded = false;
        enhancer.whenCredentialsLoaded([&] {
            loaded = true;
            loading.quit();
        });
        if (!loaded)
            loading.exec();
    }
    Log::setSink([](const QString&) {}); // the enhancer's log lines are not part of the measurement

    std::vector<double> firstToken, completion, perPiece, overheadFirst, overheadCompletion, finishing;
    const double expectedCompletion = ttft + double(tokens) * perToken; // [DONE] follows the last piece
    for (int i = 0; i < warmup + runs; ++i) {
        auto run = std::make_shared<Run>();
        {
            QMutexLocker locker(&currentMutex);
            current = run;
        }
        QEventLoop loop;
        Clock::time_point done;
        const Clock::time_point start = Clock::now();
        enhancer.enhanceText(
            QStringLiteral("um so this is a benchmark run number %1").arg(i), std::nullopt,
            [run](const QString&) {
                const Clock::time_point now = Clock::now();
                QMutexLocker locker(&run->mutex);
                run->received.push_back(now);
            },
            [&](const EnhancementResult&) {
                done = Clock::now();
                loop.quit();
            });
        loop.exec();
        if (i < warmup)
            continue;
        QMutexLocker locker(&run->mutex);
        if (run->received.empty())
            continue;
        firstToken.push_back(ms(run->received.front() - start));
        completion.push_back(ms(done - start));
        overheadFirst.push_back(ms(run->received.front() - start) - ttft);
        overheadCompletion.push_back(ms(done - start) - expectedCompletion);
        finishing.push_back(ms(done - run->doneWritten));
        for (size_t p = 0; p < std::min(run->received.size(), run->written.size()); ++p)
            perPiece.push_back(ms(run->received[p] - run->written[p]));
    }

    const Stats first = statsOf(firstToken);
    const Stats whole = statsOf(completion);
    const Stats piece = statsOf(perPiece);
    const Stats over = statsOf(overheadFirst);
    const Stats overWhole = statsOf(overheadCompletion);
    const Stats finish = statsOf(finishing);
    std::printf(
        "enhance_latency: %d runs (+%d warm-up), T = %d ms, R = %d pieces/s (%d ms apart), %d pieces\n",
        int(firstToken.size()), warmup, ttft, rate, perToken, tokens);
    std::printf("  enhanceText -> first onToken   median %8.3f ms   p95 %8.3f ms\n", first.median, first.p95);
    std::printf(
        "  enhanceText -> completion      median %8.3f ms   p95 %8.3f ms   (server ends at %.0f ms)\n",
        whole.median, whole.p95, expectedCompletion);
    std::printf(
        "  piece written -> onToken       median %8.3f ms   p95 %8.3f ms   (cost per streamed piece)\n",
        piece.median, piece.p95);
    std::printf("  overhead over T (first token)  median %8.3f ms   p95 %8.3f ms   goal: median <= 5 ms %s\n",
                over.median, over.p95, over.median <= 5.0 ? "(met)" : "(NOT met)");
    std::printf(
        "  overhead at completion         median %8.3f ms   p95 %8.3f ms   (server timer slack included)\n",
        overWhole.median, overWhole.p95);
    std::printf(
        "  [DONE] written -> completion   median %8.3f ms   p95 %8.3f ms   (the client's own share)\n",
        finish.median, finish.p95);
    return firstToken.empty() ? 1 : 0;
}
