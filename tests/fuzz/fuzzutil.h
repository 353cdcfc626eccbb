// Shared by the fuzz targets: a check that stops the run with the broken
// rule (libFuzzer then saves the input), quiet console output, and a
// scratch directory for the targets that go through real files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition);           \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzzutil {

// The routines draw on the console; the run's own reports go to stderr.
inline void quietStdout() {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}

// A fresh directory in memory where there is one (file work is then cheap),
// removed when the run ends.
inline std::string scratchDir() {
    static std::string dir;
    if (!dir.empty()) return dir;
    const char* base = std::getenv("TMPDIR");
    std::string root = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (base ? base : "/tmp");
    std::string pattern = root + "/verdel-fuzz-XXXXXX";
    if (!::mkdtemp(&pattern[0])) std::abort();
    dir = pattern;
    std::atexit([] { std::system(("rm -rf '" + dir + "'").c_str()); });
    return dir;
}

} // namespace fuzzutil
