#pragma once

#include "text/TextEnhancement.h"

#include <QList>
#include <QStringList>

#include <thread>

namespace quenda::fakes {

// A clean-up service the test answers by hand: each enhanceText call waits until the test streams pieces
// and completes it, optionally from another thread as a network reply would.
class FakeTextEnhancement final : public TextEnhancement {
public:
    struct Request {
        QString text;
        TokenHandler onToken;
        Completion done;
    };

    bool isCleanUpAvailable() const override { return available; }
    void enhanceText(const QString& text, const std::optional<QString>&, TokenHandler onToken,
                     Completion done) override
    {
        requests.append(Request{text, std::move(onToken), std::move(done)});
    }
    void speculativeEnhance(const QString& partialText, const std::optional<QString>& appBundleID) override
    {
        speculative.append({partialText, appBundleID});
    }
    void clearSpeculativeCache() override { ++cacheClears; }

    // Streams the pieces and completes the latest request; on a worker thread when `offThread` is set.
    void answer(const QStringList& pieces, EnhancementResult result, bool offThread = false)
    {
        Request request = requests.takeLast();
        auto run = [request, pieces, result] {
            for (const QString& piece : pieces)
                request.onToken(piece);
            request.done(result);
        };
        if (offThread)
            std::thread(run).join();
        else
            run();
    }

    bool available = false;
    QList<Request> requests;
    QList<std::pair<QString, std::optional<QString>>> speculative;
    int cacheClears = 0;
};

} // namespace quenda::fakes
