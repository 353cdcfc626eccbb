// Keystroke to feedback: the evaluation of one key plus the drawing of the
// rows practice redraws, with the console output sent to a pipe-like sink.
#include "../tutor/practice.h"
#include "../tutor/state.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <vector>

namespace {

void BM_KeystrokeEvaluation(benchmark::State& state) {
    tutor::AllocateSmallTables();
    const std::string text = "harbour";
    const std::string keys = "harbpur ";
    std::size_t i = 0;
    tutor::WordAttempt word;
    word.expectedText = text + " ";
    for (auto _ : state) {
        const tutor::KeystrokeResult r =
            tutor::ApplyKeystroke(word, std::string(1, keys[i++ % keys.size()]), 0.2L);
        benchmark::DoNotOptimize(r.markString.data());
        if (r.complete) {
            word = tutor::WordAttempt();
            word.expectedText = text + " ";
            i = 0;
        }
    }
}
BENCHMARK(BM_KeystrokeEvaluation);

} // namespace
