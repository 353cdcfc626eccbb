// Any book file through the integrity check and both splits: the check
// says valid exactly when the six position-class sums are the shipped
// book's, every line lands in its paragraph with LF, FF and TAB removed, and
// the words of each paragraph joined by single spaces give it back.
#include "../../tutor/booktext.h"
#include "../../tutor/state.h"
#include "bookconstants.h"
#include "fuzzutil.h"

#include <algorithm>
#include <cstdint>

namespace {

// The six sums as their definition states them, positions from 1.
bool sumsMatchShippedBook(const std::string& text) {
    std::uint64_t sums[6] = {};
    const int divisors[4] = {3, 5, 7, 11};
    for (std::size_t i = 1; i <= text.size(); ++i) {
        const unsigned c = static_cast<unsigned char>(text[i - 1]);
        sums[i % 2 == 0 ? 0 : 1] += c;
        for (int d = 0; d < 4; ++d)
            if (i % static_cast<std::size_t>(divisors[d]) == 0) sums[2 + d] += c;
    }
    for (int s = 0; s < 6; ++s)
        if (sums[s] != tutor::kExpectedBookSums[s]) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzutil::quietStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tutor;
    // LoadBookText never gives more than this.
    const std::string text(reinterpret_cast<const char*>(data), std::min(size, kBookReadLimit));
    textValid = false;
    CheckBookIntegrity(text);
    FUZZ_CHECK(textValid == sumsMatchShippedBook(text));

    AllocateBookTables();
    BuildParagraphs(text);
    BuildParagraphWords();

    // Lines: what is left of the text once LF, FF and TAB are gone, cut at
    // every CR, as far as the table reaches.
    std::string kept;
    for (char c : text)
        if (c != '\n' && c != '\f' && c != '\t') kept += c;
    std::size_t line = 0;
    std::string current;
    for (std::size_t i = 0; i <= kept.size() && line < paragraphs.size(); ++i) {
        if (i == kept.size() || kept[i] == '\r') {
            FUZZ_CHECK(paragraphs[line] == current);
            current.clear();
            ++line;
        } else {
            current += kept[i];
        }
    }
    for (std::size_t k = line; k < paragraphs.size() && k < line + 2; ++k)
        FUZZ_CHECK(paragraphs[k].empty());

    // Words: paragraph k is its words joined by single spaces, as long as it
    // has fewer spaces than the word table holds.
    for (long k = 0; k <= kLastParagraph; ++k) {
        const std::string& p = paragraphs[static_cast<std::size_t>(k)];
        const long spaces = static_cast<long>(std::count(p.begin(), p.end(), ' '));
        const long last = static_cast<long>(lastWordIndex[static_cast<std::size_t>(k)]);
        if (k == 0) {
            FUZZ_CHECK(last == 0);
            continue;
        }
        FUZZ_CHECK(last == std::min(spaces, WordTable::kWords - 1));
        if (spaces >= WordTable::kWords - 1) continue;
        std::string joined;
        for (long w = 0; w <= last; ++w)
            joined += (w ? " " : "") + paragraphWords.at(k, w);
        FUZZ_CHECK(joined == p);
    }
    return 0;
}
