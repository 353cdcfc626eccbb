// Reading and checking the whole installer file, as the install button does:
// the five sequential reads and the sums of every payload chunk. The install
// directory is made unwritable (a file stands in its place), so no time goes
// to writing; the missing library is then reported to a recorder.
#include "../installer/payload.h"
#include "../platform/platform.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>

namespace {

int messages = 0;
void countMessage(const std::string&) {
    ++messages;
}
void noPause(int) {}
bool noCommand(const std::string&) {
    return true;
}

long peakKb() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_ReadAndCheckInstallerFile(benchmark::State& state) {
    namespace fs = std::filesystem;
    const fs::path file = VERDEL_INSTALLER_FILE;
    const fs::path original = fs::current_path();
    fs::current_path(file.parent_path()); // the installer looks for itself here
    const std::string blocked = (fs::temp_directory_path() / "verdel-bench-blocked").string();
    std::FILE* f = std::fopen(blocked.c_str(), "wb");
    if (f != nullptr) std::fclose(f);
    setenv("VERDEL_HOME", blocked.c_str(), 1);

    installer::initPackagedTables();
    installer::targetPaths.assign(installer::chunkLengths.size(), std::string());
    for (std::size_t k = 1; k < installer::chunkLengths.size(); ++k)
        installer::targetPaths[k] = blocked + "/" + installer::chunkFileNames[k];
    installer::payloadActions = {countMessage, noPause, noCommand};
    const long before = peakKb();
    for (auto _ : state) {
        installer::installPayload();
        benchmark::DoNotOptimize(installer::errorCount);
    }
    std::size_t bytes = 0;
    for (const std::string& chunk : installer::chunkData)
        bytes += chunk.size();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["file_bytes"] = static_cast<double>(bytes);
    state.counters["chunk_errors"] = installer::errorCount; // 0: every chunk passed
    state.counters["peak_rss_kb_before"] = static_cast<double>(before);
    state.counters["peak_rss_kb"] = static_cast<double>(peakKb());
    std::remove(blocked.c_str());
    fs::current_path(original);
}
BENCHMARK(BM_ReadAndCheckInstallerFile)->Unit(benchmark::kMillisecond);

} // namespace
