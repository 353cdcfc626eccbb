#pragma once
// Small helpers shared by the unit tests.
#include "../../platform/platform.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace testutil {

// Removes every scratch directory when the test program ends.
struct ScratchDirs {
    std::mutex lock;
    std::vector<std::string> dirs;
    ~ScratchDirs() {
        for (const std::string& d : dirs) {
            std::error_code ignored;
            std::filesystem::remove_all(d, ignored);
        }
    }
};
inline ScratchDirs& scratchDirs() {
    static ScratchDirs all;
    return all;
}

// A fresh scratch directory per test, under the system's temporary folder.
// The suite runs test programs side by side, each counting from 0 and
// possibly within one millisecond of another: a token drawn once per
// process keeps two of them out of one directory.
inline std::string scratchDir(const std::string& name) {
    static std::atomic<int> counter{0};
    static const unsigned token = std::random_device{}();
    std::string base = platform::environmentVariable("TMPDIR");
    if (base.empty()) base = platform::environmentVariable("TEMP");
    if (base.empty()) base = "/tmp";
    const char sep = platform::pathSeparator();
    const std::string dir =
        base + sep + "verdel-unit-" + name + "-" +
        std::to_string(static_cast<long>(platform::secondsSinceMidnight() * 1000)) + "-" +
        std::to_string(token) + "-" + std::to_string(counter++);
    platform::createDirectory(dir);
    std::lock_guard<std::mutex> hold(scratchDirs().lock);
    scratchDirs().dirs.push_back(dir);
    return dir;
}

inline std::string join(const std::string& dir, const std::string& name) {
    return dir + platform::pathSeparator() + name;
}

inline std::string readAll(const std::string& path) {
    std::string out;
    platform::readFileNoCreate(path, 1 << 24, out);
    return out;
}

inline void writeAll(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

} // namespace testutil
