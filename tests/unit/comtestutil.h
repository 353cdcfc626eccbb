#pragma once
// Test-only helpers around the COM apartment and the stand-in speech
// component: the environment it reads, its call log, and pumping the calls
// it posts back to this thread.
#include "../../platform/platform.h"
#include "testutil.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include "../../platform/posix/com/apartment.h"
#include <cstdlib>
#endif

namespace testutil {

inline void setEnv(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    SetEnvironmentVariableA(name.c_str(), value.c_str());
#else
    ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

// Handles the calls and messages pending for this thread.
inline void pumpPending() {
#if defined(_WIN32)
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
#else
    while (VcomApartmentPumpOne() != 0) {
    }
#endif
}

// Pumps until the predicate holds or the time-out passes (a bound against
// hanging, not a measure).
inline bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pumpPending();
        if (done()) return true;
        platform::sleepMs(5);
    }
    pumpPending();
    return done();
}

// One line of the component's call log, split at its tabs.
using LogLine = std::vector<std::string>;

inline std::vector<LogLine> readLog(const std::string& path) {
    std::vector<LogLine> lines;
    // Opened the C library's way, which shares the file with a writer.
    std::ifstream in(path, std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        LogLine fields;
        std::size_t f = start;
        for (;;) {
            const std::size_t tab = all.find('\t', f);
            if (tab == std::string::npos || tab > end) {
                fields.push_back(all.substr(f, end - f));
                break;
            }
            fields.push_back(all.substr(f, tab - f));
            f = tab + 1;
        }
        lines.push_back(fields);
        start = end + 1;
    }
    return lines;
}

// The whole line joined with single spaces, for readable expectations.
inline std::string joined(const LogLine& line) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i)
        out += (i ? " " : "") + line[i];
    return out;
}

} // namespace testutil
