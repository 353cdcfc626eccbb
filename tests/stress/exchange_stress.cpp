// One side of the exchange files at full speed, with the very routines the
// tutor and the listening window use: run a writer and a reader of the same
// file as two processes on one install directory (VERDEL_HOME), and each
// prints what it did. The reader checks every record it takes.
//
//   exchange_stress speak-write N   the tutor's Say, requests "request 0".."request N-1"
//   exchange_stress speak-read N    the window's speak-file check
//   exchange_stress heard-write N   the window's heard-file writer, "phrase 0 ".."phrase N-1 ",
//                                   each once the tutor has taken the one before
//   exchange_stress heard-read N    the tutor's command reader's read and take
#include "../../common/exchangerecord.h"
#include "../../listener/exchangeagent.h"
#include "../../platform/installdir.h"
#include "../../platform/platform.h"
#include "../../tutor/exchange.h"
#include "../../tutor/state.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The number in "<prefix><n><suffix>", or -1 when the text is not exactly that.
long numberIn(const std::string& text, const std::string& prefix, const std::string& suffix) {
    if (text.size() <= prefix.size() + suffix.size() ||
        text.compare(0, prefix.size(), prefix) != 0 ||
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0)
        return -1;
    const std::string digits =
        text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 9 || (digits.size() > 1 && digits[0] == '0')) return -1;
    long n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// Counts what a reader took against the sequence the writer sent.
struct Tally {
    long expected;
    long next = 0; // the number the next record should carry
    long taken = 0, lost = 0, twice = 0, torn = 0;
    Clock::time_point start = Clock::now();
    Clock::time_point lastProgress = Clock::now();

    explicit Tally(long n) : expected(n) {}
    void take(long n) {
        lastProgress = Clock::now();
        ++taken;
        if (n < 0) {
            ++torn;
        } else if (n < next) {
            ++twice;
        } else {
            lost += n - next;
            next = n + 1;
        }
    }
    bool done() const { return next >= expected; }
    bool stalled() const { return secondsSince(lastProgress) > 20; }
    int report(const char* what) const {
        const double seconds = secondsSince(start);
        std::printf("%s: %ld taken, %ld lost, %ld twice, %ld torn, %ld missing at the end, "
                    "%.0f records/s\n",
                    what, taken, lost, twice, torn, expected - next,
                    seconds > 0 ? static_cast<double>(taken) / seconds : 0.0);
        return lost == 0 && twice == 0 && torn == 0 && next == expected ? 0 : 1;
    }
};

int speakWrite(long n) {
    tutor::speakPath = platform::installPath("speak.txt");
    const auto start = Clock::now();
    for (long i = 0; i < n; ++i) {
        tutor::speakText = "request " + std::to_string(i);
        tutor::Say();
    }
    // The last request is on disk; wait (bounded) for the reader to take it.
    for (int waited = 0; platform::fileExists(tutor::speakPath) && waited < 10000; waited += 5)
        platform::sleepMs(5);
    std::printf("speak-write: %ld requests in %.2f s\n", n, secondsSince(start));
    return 0;
}

int speakRead(long n) {
    listener::SetExchangePaths();
    Tally tally(n);
    while (!tally.done() && !tally.stalled()) {
        const std::string text = listener::CheckSpeakFile();
        if (!text.empty()) tally.take(numberIn(text, "request ", ""));
    }
    return tally.report("speak-read");
}

int heardWrite(long n) {
    listener::SetExchangePaths();
    const auto start = Clock::now();
    long unanswered = 0;
    for (long i = 0; i < n; ++i) {
        // Paced like a learner who waits to be understood: the next phrase
        // once the tutor has taken this one (the file emptied or gone).
        listener::WriteHeardFile("phrase " + std::to_string(i) + " ");
        const auto written = Clock::now();
        // Looked at without opening it: the real window never opens heard.txt
        // but to write it, so it never holds the tutor's take up.
        for (;;) {
            std::error_code error;
            const auto size = std::filesystem::file_size(listener::heardPath, error);
            if (error || size == 0) break;
            if (secondsSince(written) > 10) {
                ++unanswered;
                break;
            }
        }
    }
    std::printf("heard-write: %ld phrases in %.2f s, %ld not taken within 10 s\n", n,
                secondsSince(start), unanswered);
    return unanswered == 0 ? 0 : 1;
}

int heardRead(long n) {
    tutor::heardPath = platform::installPath("heard.txt");
    Tally tally(n);
    std::string previous;
    while (!tally.done() && !tally.stalled()) {
        tutor::ReadHeardFile();
        const std::string message = tutor::heardMessage.get();
        if (message == previous) continue;
        tutor::TakeHeardFile(message);
        previous = message;
        if (message.empty()) continue;
        tally.take(message.size() < 8 ? -1 : numberIn(message.substr(8), "phrase ", " "));
    }
    return tally.report("heard-read");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr,
                     "usage: exchange_stress speak-write|speak-read|heard-write|heard-read N\n");
        return 2;
    }
    const std::string mode = argv[1];
    const long n = std::atol(argv[2]);
    if (n <= 0) return 2;
    if (mode == "speak-write") return speakWrite(n);
    if (mode == "speak-read") return speakRead(n);
    if (mode == "heard-write") return heardWrite(n);
    if (mode == "heard-read") return heardRead(n);
    return 2;
}
