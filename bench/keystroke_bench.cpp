// Keystroke to feedback: one key evaluated and rows 4, 6, 7 and 8 drawn, as
// typing practice does it, with the console output sent to /dev/null. Reports
// the 50th and 99th percentile over 10,000 keystrokes.
#include "../tutor/booktext.h"
#include "../tutor/practice.h"
#include "../tutor/state.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

void BM_KeystrokeToFeedback(benchmark::State& state) {
    tutor::AllocateSmallTables();
    tutor::AllocateBookTables();
    tutor::bookPath = VERDEL_SOURCE_BOOK;
    tutor::BuildParagraphs(tutor::LoadBookText());
    tutor::BuildParagraphWords();
    const long double p = 12;
    const long double lastWord = tutor::lastWordIndex[12];

    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int sink = open("/dev/null", O_WRONLY);
    dup2(sink, STDOUT_FILENO);

    std::vector<double> micros;
    for (auto _ : state) {
        micros.clear();
        micros.reserve(10000);
        long double w = 0;
        long double lastFitting = 0;
        tutor::WordAttempt word;
        std::size_t typedInWord = 0;
        for (int i = 0; i < 10000; ++i) {
            const std::string& text = tutor::paragraphWords.at(p, w);
            const std::string expected = text + " ";
            // Mostly right keys, every seventh one wrong.
            std::string key(1, typedInWord < expected.size() ? expected[typedInWord] : ' ');
            if (i % 7 == 3) key = "#";
            const auto start = std::chrono::steady_clock::now();
            const tutor::KeystrokeResult r =
                tutor::ProcessKeystroke(word, key, 0.2L, text, p, w, lastFitting);
            micros.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count());
            typedInWord = word.typedText.size();
            if (r.complete) {
                w = w >= lastWord ? 0 : w + 1;
                word = tutor::WordAttempt();
                typedInWord = 0;
            }
        }
    }

    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(sink);
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    state.counters["max_us"] = micros.back();
}
BENCHMARK(BM_KeystrokeToFeedback)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
