// The recogniser's own text routines with any text: number words to a value
// (0-999 or -1, and every value it gives reads back from its spoken forms),
// the book's runs of words and the grammar built from any book, and the text
// form of any word sequence (empty, or words each followed by one space).
#include "fuzzutil.h"
#include "speechkit/grammar.h"
#include "speechkit/lexicon.h"
#include "speechkit/numberwords.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A small dictionary in the model's format: the command words, the numbers
// and a few book words, so that building the grammar stays quick.
const speechkit::Lexicon& lexicon() {
    static speechkit::Lexicon words = [] {
        speechkit::Lexicon l;
        l.loadText("and AH N D\nand(2) AE N D\nchapter CH AE P T ER\ncontinue K AH N T IH N Y UW\n"
                   "eight EY T\neighty EY T IY\neleven IH L EH V AH N\nexit EH G Z IH T\n"
                   "fifteen F IH F T IY N\nfifty F IH F T IY\nfive F AY V\nforty F AO R T IY\n"
                   "four F AO R\nharbour HH AA R B ER\nhelp HH EH L P\nhundred HH AH N D R AH D\n"
                   "locate L OW K EY T\nnine N AY N\nno N OW\none W AH N\nprogram P R OW G R AE M\n"
                   "result R IH Z AH L T\nseven S EH V AH N\nsix S IH K S\nten T EH N\n"
                   "the DH AH\nthree TH R IY\ntwelve T W EH L V\ntwenty T W EH N T IY\n"
                   "two T UW\nwalls W AO L Z\nyes Y EH S\nzero Z IH R OW\n");
        return l;
    }();
    return words;
}

std::vector<std::string> wordsOf(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w && words.size() < 64;)
        words.push_back(w);
    return words;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 20000) return 0; // a book's worth of runs is enough per input
    const std::string text(reinterpret_cast<const char*>(data), size);

    const int value = speechkit::numberWordsToValue(text);
    FUZZ_CHECK(value >= -1 && value <= 999);
    if (value >= 0) {
        for (bool withAnd : {false, true})
            FUZZ_CHECK(speechkit::numberWordsToValue(
                           speechkit::valueToNumberWords(value, withAnd)) == value);
    }

    for (const std::vector<std::string>& run : speechkit::bookSegments(text)) {
        FUZZ_CHECK(!run.empty());
        for (const std::string& word : run) {
            FUZZ_CHECK(!word.empty());
            for (char c : word)
                FUZZ_CHECK(c != ' ' && !(c >= 'A' && c <= 'Z'));
        }
    }

    speechkit::Grammar grammar;
    grammar.build(text, lexicon());
    FUZZ_CHECK(!grammar.fsgText().empty());
    const std::string form = grammar.textForm(wordsOf(text));
    FUZZ_CHECK(form.empty() ||
               (form.back() == ' ' && form[0] != ' ' && form.find("  ") == std::string::npos));
    return 0;
}
