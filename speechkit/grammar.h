#pragma once
#include "lexicon.h"

#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace speechkit {

// The book as the words a learner can say after "locate": runs of words that
// stand in the text separated by one space and no punctuation, so that each
// run of 1-3 words, written with single spaces, is found by the tutor's
// case-insensitive search. Words are lower case ("rope-makers", "city's",
// "14").
std::vector<std::vector<std::string>> bookSegments(const std::string& bookText);

// Tunable weights of the grammar (probabilities of its arcs).
struct GrammarWeights {
    double garbagePhone = 1e-3; // each phone of the out-of-grammar loop
    double garbageEntry = 1.0;  // entering that loop from the start
    double locateEntry = 1.0;   // "locate" against the other commands
    double decoyEntry = 1.0;    // each word that sounds like a command, against it; 0: none
    int decoysPerCommand = 30;  // how many such words each command word gets at most
};

// The whole command vocabulary as a finite-state grammar.
class Grammar {
  public:
    // Builds the grammar; the book text may be empty (no locate phrases).
    void build(const std::string& bookText, const Lexicon& lexicon,
               const GrammarWeights& weights = GrammarWeights());

    // The grammar in the decoder's FSG text format.
    const std::string& fsgText() const { return fsg_; }
    // Every word with its pronunciations: ("chapter", "CH AE P T ER"),
    // ("chapter(2)", "CH AE P T AH"), ...
    const std::vector<std::pair<std::string, std::string>>& dictionary() const {
        return dictionary_;
    }
    // Book words left out because nothing could pronounce them, and how many
    // were pronounced by derivation or by letter-to-sound rules.
    const std::vector<std::string>& unpronounceable() const { return unpronounceable_; }
    int derivedCount() const { return derived_; }
    int ruleCount() const { return ruled_; }
    std::size_t locatePhraseCount() const { return phraseCount_; }
    // The words that sound like a command word without being it ("resort"
    // for "result", "nobody" for "no"), nearest first, by command word.
    const std::map<std::string, std::vector<std::string>>& decoys() const { return decoys_; }
    // A grammar of exactly the given command words against the words that
    // only sound like its first, to tell which it was on the audio; "" when
    // that word has none.
    std::string decoyFsgText(const std::vector<std::string>& command) const;

    // The words after "locate" as a trigram language model in ARPA text:
    // "locate" and every run of the book once, each n-gram's count less
    // `discount` left for unseen sequences, so that runs of the book are
    // strongly preferred but the decoder can still get through any speech.
    std::string languageModelText(double discount) const;
    bool hasLocatePhrases() const { return !words_.empty(); }

    // The runs of the book that sound most like any of the given word
    // sequences (words of the book, as the decoder heard them): at most
    // `count` runs, nearest first, each as its words; of runs that sound
    // alike, only the one the book uses most.
    std::vector<std::vector<std::string>>
    nearestRuns(const std::vector<std::vector<std::string>>& heard, std::size_t count) const;
    // A grammar of "locate" followed by exactly the given runs, in the same
    // FSG text format, to decide between them on the audio; each run as
    // likely as its weight (1 where none is given).
    std::string runsFsgText(const std::vector<std::vector<std::string>>& runs,
                            const std::vector<double>& weights = {}) const;

    // The text form of a word sequence the decoder produced ("chapter",
    // "twelve" -> "chapter 12 "), or "" when the sequence is no complete
    // command of the grammar (out-of-grammar speech, a cut-off phrase).
    std::string textForm(const std::vector<std::string>& words) const;

    // Words of the out-of-grammar loop start with this.
    static const char* garbagePrefix() { return "gbg_"; }

  private:
    struct Node {
        std::map<int, int> next; // word id -> node
        int parent = -1;
        int word = -1;
        bool end = false;
        int uses = 0; // times the run ending here occurs in the book
    };
    std::vector<std::string> runWords(int node) const;
    std::vector<unsigned char> runPhones(int node) const;
    int child(int node, int word);
    std::vector<Node> trie_;
    std::vector<std::string> words_;                     // locate word ids -> word
    std::vector<std::vector<unsigned char>> wordPhones_; // locate word ids -> first pronunciation
    std::unordered_map<std::string, int> variantCount_;  // word -> pronunciations in the dictionary
    std::unordered_map<std::string, int> wordIds_;
    std::string fsg_;
    std::vector<std::pair<std::string, std::string>> dictionary_;
    std::vector<std::string> unpronounceable_;
    std::map<std::string, std::vector<std::string>> decoys_;
    double decoyEntry_ = 1.0;
    int derived_ = 0, ruled_ = 0;
    std::size_t phraseCount_ = 0;
};

// The decoder's word with an alternative-pronunciation suffix ("chapter(2)")
// as the word itself.
std::string baseWord(const std::string& word);

} // namespace speechkit
