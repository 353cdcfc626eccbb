// Any file in the installer's place through its chunk reader, the sums and
// the writing of the chunks: a chunk is installed exactly when its sums
// match its own triple and no later one, with exactly its bytes; every other
// chunk is reported with its length, and registration follows only a clean
// run. The input chooses the chunk lengths and which chunks carry the sums
// expected of them, then holds the file itself.
#include "../../installer/payload.h"
#include "../../platform/platform.h"
#include "../../platform/setup.h"
#include "fuzzutil.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

namespace fs = std::filesystem;
using installer::Sums;

constexpr std::size_t kChunks = 7;
const char* const kNames[kChunks] = {
    "", "verdel101", "hearken", "orvane.txt", "XSpeechKit.so", "verdel-regsvr", "libverdelcom.so"};

std::string home, here;
std::vector<std::string> messages;
std::vector<int> pauses;
std::vector<std::string> commands;

Sums referenceSums(const std::string& bytes) {
    Sums s{0, 0, 0};
    for (std::size_t j = 1; j <= bytes.size(); ++j) {
        const int c = static_cast<unsigned char>(bytes[j - 1]);
        s[j % 2 == 0 ? 0 : 1] += c;
        if (j % 3 == 0) s[2] += c;
    }
    return s;
}

std::string readAll(const std::string& path) {
    std::string out;
    platform::readFileNoCreate(path, 1024, out);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzutil::quietStdout();
    const std::string root = fuzzutil::scratchDir();
    home = root + "/home";
    here = root + "/here";
    platform::createDirectory(home);
    platform::createDirectory(here);
    setenv("VERDEL_HOME", home.c_str(), 1);
    installer::payloadActions = {[](const std::string& text) { messages.push_back(text); },
                                 [](int ms) { pauses.push_back(ms); },
                                 [](const std::string& commandLine) {
                                     commands.push_back(commandLine);
                                     return true;
                                 }};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace installer;
    if (size < 1 + kChunks) return 0;
    const unsigned carriesItsSums = data[0];
    const std::string file(reinterpret_cast<const char*>(data + 1 + kChunks), size - 1 - kChunks);

    // The chunks as the reader must cut them: one after another, short or
    // empty where the file ends; a length below zero reads nothing.
    chunkLengths.assign(kChunks, 0);
    targetPaths.assign(kChunks, std::string());
    chunkExecutable.assign(kChunks, false);
    expectedHashz.assign(kChunks, Sums{});
    std::vector<std::string> chunks(kChunks);
    std::size_t at = 0;
    for (std::size_t k = 0; k < kChunks; ++k) {
        chunkLengths[k] = data[1 + k] == 255 ? -7 : data[1 + k];
        const std::size_t length =
            chunkLengths[k] > 0 ? static_cast<std::size_t>(chunkLengths[k]) : 0;
        chunks[k] = at < file.size() ? file.substr(at, length) : std::string();
        at += chunks[k].size();
        if (k == 0) continue;
        targetPaths[k] = home + "/" + kNames[k];
        chunkExecutable[k] = k != 3;
        expectedHashz[k] = (carriesItsSums >> k) & 1 ? referenceSums(chunks[k]) : Sums{-1, -1, -1};
        platform::deleteFile(targetPaths[k]);
    }
    const std::string own = here + "/" + platform::programFileName("installerverdel101");
    FUZZ_CHECK(platform::replaceFile(own, file, false));

    messages.clear();
    pauses.clear();
    commands.clear();
    // The installer looks for itself in the current directory; libFuzzer
    // keeps its corpus paths relative to the one it was started in.
    const fs::path started = fs::current_path();
    fs::current_path(here);
    installPayload();
    fs::current_path(started);

    std::vector<std::string> wanted;
    std::size_t failed = 0;
    for (std::size_t k = 1; k < kChunks; ++k) {
        FUZZ_CHECK(chunkData[k] == chunks[k]);
        const Sums sums = referenceSums(chunks[k]);
        std::size_t status = 0;
        for (std::size_t j = 1; j < kChunks; ++j)
            if (expectedHashz[j] == sums) status = j;
        if (status == k) {
            FUZZ_CHECK(platform::fileExists(targetPaths[k]) &&
                       readAll(targetPaths[k]) == chunks[k]);
        } else {
            FUZZ_CHECK(!platform::fileExists(targetPaths[k]));
            ++failed;
            wanted.push_back(" " + std::to_string(chunks[k].size()) + " is len of error data.");
        }
        if (k == kChunks - 1) FUZZ_CHECK(hashz == sums && matchStatus == static_cast<int>(status));
    }
    FUZZ_CHECK(errorCount == failed);
    // Only the installed files in the install directory: nothing half-written.
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(home)) {
        (void)entry;
        ++files;
    }
    FUZZ_CHECK(files == kChunks - 1 - failed);
    if (failed) {
        FUZZ_CHECK(messages.size() == failed + 1);
        FUZZ_CHECK(std::vector<std::string>(messages.begin(), messages.end() - 1) == wanted);
        FUZZ_CHECK(messages.back().rfind(" " + std::to_string(failed) + " ERRORS Detected", 0) ==
                   0);
        FUZZ_CHECK(pauses == std::vector<int>{10000} && commands.empty());
    } else {
        FUZZ_CHECK(messages.empty() && pauses.empty());
        FUZZ_CHECK(commands.size() == 1 &&
                   commands[0] == platform::registrationTool() + " \"" + targetPaths[4] + "\"");
    }
    return 0;
}
