#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace speechkit {

// Pronunciations (phone strings such as "CH AE P T ER") for the words the
// grammar uses: the model's dictionary first, then forms derived from it
// (hyphenated and compound words, possessives, British spellings, plurals,
// numbers written in digits), and as a last resort letter-to-sound rules of
// our own for names the dictionary lacks.
class Lexicon {
  public:
    // Reads a dictionary in the model's format ("word PH ON ES", alternatives
    // as "word(2) ..."). False when it cannot be read or holds no entries.
    bool load(const std::string& path);
    // Uses dictionary text already in memory (tests).
    void loadText(std::string text);
    bool empty() const { return entries_.empty(); }

    // The dictionary's own pronunciations of a lower-case word, in order.
    std::vector<std::string> lookup(std::string_view word) const;

    // How a pronunciation was found, for reports and tests.
    enum class Source { Dictionary, Derived, Rules, None };
    // Pronunciations of a lower-case word as written in a text: the
    // dictionary's own, else derived ones, else letter-to-sound rules. None
    // for words with nothing pronounceable (a lone "&").
    std::vector<std::string> pronounce(const std::string& word, Source* source = nullptr) const;

    // Letter-to-sound rules alone (exposed for tests).
    static std::string spellOut(const std::string& letters);

    // Calls f(word, phones) for every entry, sorted by word, a word's
    // alternatives in file order.
    template <class F> void forEach(F&& f) const {
        for (const Entry& e : entries_)
            f(e.word, e.phones);
    }

  private:
    std::vector<std::string> derive(const std::string& word, int depth) const;
    std::string text_;
    struct Entry {
        std::string_view word; // without the "(2)" suffix
        std::string_view phones;
    };
    std::vector<Entry> entries_; // sorted by word, alternatives in file order
};

} // namespace speechkit
