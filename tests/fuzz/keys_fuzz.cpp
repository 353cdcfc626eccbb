// Bytes from the terminal through the key parser, and the keys it gives
// through typing practice's keystroke handling, word after word: every key
// has one of its three forms, the parser always moves on, the feedback line
// has at most one mark per position, the repair digits stay inside their
// line, and every results cell prints a number or "?".
#include "../../platform/posix/keyparse.h"
#include "../../tutor/practice.h"
#include "../../tutor/state.h"
#include "fuzzutil.h"

#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzutil::quietStdout();
    tutor::AllocateSmallTables();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tutor;
    if (size < 2) return 0;
    // The first byte is the length of the paragraph the keys are typed
    // against; the paragraph follows, then the bytes the terminal sent.
    const std::size_t length = std::min<std::size_t>(data[0], size - 1);
    const std::string paragraph(reinterpret_cast<const char*>(data + 1), length);
    std::string bytes(reinterpret_cast<const char*>(data + 1 + length), size - 1 - length);

    // The paragraph's words, cut at single spaces as the book split does.
    std::vector<std::string> words(1);
    for (char c : paragraph) {
        if (c == ' ')
            words.emplace_back();
        else
            words.back() += c;
    }

    std::size_t w = 0;
    WordAttempt word;
    word.expectedText = words[0] + " ";
    std::string pendingKey = " "; // as every paragraph starts
    int finished = 0;
    auto handle = [&](const std::string& key) {
        pendingKey = key;
        for (;;) {
            EditTyped(word, pendingKey);
            const std::size_t n = word.typedText.size();
            const KeystrokeResult result = EvaluateKeystroke(word, pendingKey, 0.25L);
            FUZZ_CHECK(result.markString.size() <= n);
            FUZZ_CHECK(word.markLine.size() == 80);
            if (!result.complete) {
                if (word.typedText == " ") word.typedText.clear();
                return;
            }
            // The key that completed a word is the first of the next one.
            if (++w >= words.size()) {
                w = 0;
                ++finished;
            }
            word = WordAttempt();
            word.expectedText = words[w] + " ";
            if (finished > 2) return;
        }
    };
    handle(" ");

    while (!bytes.empty() && finished <= 2) {
        std::string key;
        std::size_t used = platform::posix::parseTerminalKey(bytes, false, key);
        if (used == 0) used = platform::posix::parseTerminalKey(bytes, true, key);
        FUZZ_CHECK(used >= 1 && used <= bytes.size());
        FUZZ_CHECK(key.empty() || (key.size() == 1 && key[0] != '\0') ||
                   (key.size() == 2 && key[0] == '\0'));
        bytes.erase(0, used);
        if (!key.empty()) handle(key);
    }

    for (int code = 32; code <= 127; ++code) {
        const std::string cell = ResultCell(code);
        FUZZ_CHECK(cell.find("inf") == std::string::npos && cell.find("nan") == std::string::npos);
    }
    return 0;
}
