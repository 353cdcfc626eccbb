// Reading, checking and splitting the book, as the tutor does at start-up.
#include "../platform/platform.h"
#include "../tutor/booktext.h"
#include "../tutor/state.h"

#include <benchmark/benchmark.h>

namespace {

void BM_ReadCheckSplitBook(benchmark::State& state) {
    tutor::AllocateSmallTables();
    tutor::bookPath = VERDEL_SOURCE_BOOK;
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        tutor::AllocateBookTables();
        state.ResumeTiming();
        const std::string text = tutor::LoadBookText();
        tutor::CheckBookIntegrity(text);
        tutor::BuildParagraphs(text);
        tutor::BuildParagraphWords();
        bytes = text.size();
        benchmark::DoNotOptimize(tutor::textValid);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["valid"] = tutor::textValid ? 1 : 0;
}
BENCHMARK(BM_ReadCheckSplitBook)->Unit(benchmark::kMillisecond);

} // namespace
