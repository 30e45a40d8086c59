// Measures the text work done on every dictation: snippet expansion of the final transcript, learning
// from a long edit (a full word table, so it grows with the product of the word counts) and grapheme
// counting. Prints medians over repeated runs.
#include "base/Log.h"
#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "text/Graphemes.h"
#include "text/PersonalDictionary.h"
#include "text/SnippetManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace quenda;

namespace {

double medianMicros(int runs, const std::function<void()>& work)
{
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        samples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

QString sentence(int words, int seed)
{
    static const char* vocabulary[] = {"the",    "quick", "brown",    "fox",    "jumps", "over", "lazy",
                                       "dog",    "send",  "report",   "to",     "anna",  "by",   "friday",
                                       "please", "café",  "👋🏽", "résumé", "naïve", "json"};
    QStringList parts;
    for (int i = 0; i < words; ++i)
        parts << QString::fromUtf8(vocabulary[(i * 7 + seed) % 20]);
    return parts.join(QLatin1Char(' '));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Log::setSink([](const QString&) {}); // the expansion log lines would dominate the timing
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("bench.conf")));
    VirtualScheduler clock;

    SnippetManager snippets(defaults);
    for (int i = 0; i < 100; ++i)
        snippets.addSnippet(QStringLiteral("trigger phrase %1").arg(i),
                            QStringLiteral("Expansion number %1").arg(i));
    const QString transcript = sentence(200, 1) + QStringLiteral(" trigger phrase 42 and trigger phrase 7");
    std::printf("snippet expansion, 100 snippets, 200-word transcript: %.1f us median\n",
                medianMicros(200, [&] { snippets.expandSnippets(transcript); }));

    PersonalDictionary dictionary(defaults, clock);
    for (int words : {50, 200, 500}) {
        const QString inserted = sentence(words, 3);
        QStringList edited = graphemes::words(inserted);
        for (int i = 0; i < edited.size(); i += 10)
            edited[i] = edited[i].toUpper() + QStringLiteral("x");
        const QString editedText = edited.join(QLatin1Char(' '));
        std::printf("learnCorrections, %d words each side: %.1f us median\n", words,
                    medianMicros(words >= 500 ? 20 : 100, [&] {
                        dictionary.learnCorrections(inserted, editedText);
                        clock.runUntilIdle();
                    }));
    }

    const QString long_text = sentence(2000, 5);
    std::printf("grapheme count of %lld UTF-16 units: %.1f us median\n",
                static_cast<long long>(long_text.size()),
                medianMicros(200, [&] { graphemes::count(long_text); }));
    return 0;
}
