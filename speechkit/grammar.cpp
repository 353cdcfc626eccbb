#include "grammar.h"

#include "numberwords.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <sstream>

namespace speechkit {

namespace {

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Pronunciations the dictionary lacks for the command words: British
// forms (non-rhotic; "no" gliding from a schwa) and common reductions.
const std::pair<const char*, const char*> kExtraPronunciations[] = {
    {"chapter", "CH AE P T AH"},
    {"locate", "L AH K EY T"},
    {"locate", "L OW K EY T"},
    {"program", "P R OW G R AH M"},
    {"exit", "EH K S IH T"},
    {"exit", "EH G Z AH T"},
    {"result", "R IH Z AH L T"},
    {"four", "F AO"},
    {"fourteen", "F AO T IY N"},
    {"forty", "F AO T IY"},
    {"and", "AH N"},
    {"hundred", "HH AH N D R AH D"},
    {"help", "HH EH OW P"},
    {"help", "HH EH L"},
    {"help", "HH AH L P"},
    {"no", "N AH UW"},
};

const char* const kSimpleCommands[] = {"help", "continue", "result", "yes", "no"};

// The model's context-independent phones, for the out-of-grammar loop.
const char* const kPhones[] = {"AA", "AE", "AH", "AO", "AW", "AY", "B",  "CH", "D",  "DH",
                               "EH", "ER", "EY", "F",  "G",  "HH", "IH", "IY", "JH", "K",
                               "L",  "M",  "N",  "NG", "OW", "OY", "P",  "R",  "S",  "SH",
                               "T",  "TH", "UH", "UW", "V",  "W",  "Y",  "Z",  "ZH"};

int phoneId(const std::string& p) {
    for (std::size_t i = 0; i < sizeof kPhones / sizeof kPhones[0]; ++i)
        if (p == kPhones[i]) return static_cast<int>(i);
    return -1;
}

// Broad classes of the phones for the distance between pronunciations:
// vowels, stops, fricatives and affricates, nasals, liquids and glides.
int phoneClass(int id) {
    static const char* const vowels[] = {"AA", "AE", "AH", "AO", "AW", "AY", "EH", "ER",
                                         "EY", "IH", "IY", "OW", "OY", "UH", "UW"};
    static const char* const stops[] = {"B", "D", "G", "K", "P", "T"};
    static const char* const nasals[] = {"M", "N", "NG"};
    static const char* const liquids[] = {"L", "R", "W", "Y"};
    const std::string p = kPhones[id];
    for (const char* v : vowels)
        if (p == v) return 0;
    for (const char* v : stops)
        if (p == v) return 1;
    for (const char* v : nasals)
        if (p == v) return 3;
    for (const char* v : liquids)
        if (p == v) return 4;
    return 2;
}

std::vector<unsigned char> phoneIds(const std::string& phones) {
    std::vector<unsigned char> out;
    std::istringstream in(phones);
    for (std::string p; in >> p;) {
        const int id = phoneId(p);
        if (id >= 0) out.push_back(static_cast<unsigned char>(id));
    }
    return out;
}

// Edit distance between phone strings: a phone of the same broad class
// costs less to substitute than any other.
double phoneDistance(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b,
                     const std::vector<int>& cls, std::vector<double>& row) {
    const std::size_t m = b.size();
    row.resize(m + 1);
    for (std::size_t j = 0; j <= m; ++j)
        row[j] = static_cast<double>(j);
    for (std::size_t i = 1; i <= a.size(); ++i) {
        double diag = row[0];
        row[0] = static_cast<double>(i);
        for (std::size_t j = 1; j <= m; ++j) {
            const double sub =
                a[i - 1] == b[j - 1] ? 0.0 : (cls[a[i - 1]] == cls[b[j - 1]] ? 0.6 : 1.0);
            const double best = std::min({row[j] + 1.0, row[j - 1] + 1.0, diag + sub});
            diag = row[j];
            row[j] = best;
        }
    }
    return row[m];
}

// The command words that get words sounding like them as competitors.
const char* const kDecoyTargets[] = {"help", "continue", "result",  "yes",   "no",
                                     "exit", "program",  "chapter", "locate"};

// Dictionary words that sound like a command word without being it: within
// a small distance of one of its pronunciations, or beginning like its own
// (dictionary) pronunciation and going on for two phones or more
// ("nobody" for "no"). Words that
// share a pronunciation with a command or number word are left out: they
// would take that word's own sound ("know" for "no"). At most `perTarget`
// a command word, nearest first; each word once, with its first
// pronunciation.
constexpr std::size_t kMinWholeDecoyTarget = 5; // phones

// Whether the phones from `from` on hold a vowel: a word that goes on after
// a command's sound by a syllable, not by a consonant a voice may add.
bool hasVowel(const std::vector<unsigned char>& phones, std::size_t from) {
    for (std::size_t i = from; i < phones.size(); ++i)
        if (phoneClass(phones[i]) == 0) return true;
    return false;
}
constexpr std::size_t kMinDecoyTail = 2; // phones a word goes on after a command's

using DecoyList = std::vector<std::pair<std::string, std::string>>; // word, phones

std::map<std::string, DecoyList>
chooseDecoys(const Lexicon& lexicon,
             const std::vector<std::pair<std::string, std::vector<std::string>>>& targets,
             const std::set<std::string>& takenSounds, const std::set<std::string>& takenWords,
             int perTarget) {
    std::set<std::string_view> sameSound;
    lexicon.forEach([&](std::string_view w, std::string_view ph) {
        if (takenSounds.count(std::string(ph))) sameSound.insert(w);
    });
    struct Entry {
        std::string word;
        std::vector<unsigned char> phones;
        std::string text;
    };
    std::vector<Entry> candidates;
    std::string_view last;
    lexicon.forEach([&](std::string_view w, std::string_view ph) {
        if (w == last) return; // alternatives: the first pronunciation only
        last = w;
        if (sameSound.count(w) || takenWords.count(std::string(w))) return;
        if (!std::all_of(w.begin(), w.end(), [](char c) { return c >= 'a' && c <= 'z'; })) return;
        candidates.push_back({std::string(w), phoneIds(std::string(ph)), std::string(ph)});
    });

    std::vector<int> cls(sizeof kPhones / sizeof kPhones[0]);
    for (std::size_t i = 0; i < cls.size(); ++i)
        cls[i] = phoneClass(static_cast<int>(i));
    std::vector<double> row;
    std::map<std::string, DecoyList> chosen;
    for (const auto& target : targets) {
        struct Near {
            double distance;
            std::size_t extra;
            const Entry* entry;
        };
        std::vector<std::vector<unsigned char>> prons;
        for (const std::string& text : target.second)
            prons.push_back(phoneIds(text));
        std::vector<Near> near;
        for (const Entry& c : candidates) {
            // Words spelled as the command and more ("helping", "results",
            // "nowhere"): a voice that trails off after the command sounds
            // like them.
            if (c.word.compare(0, target.first.size(), target.first) == 0) continue;
            double best = 1e9;
            for (std::size_t i = 0; i < prons.size(); ++i) {
                const std::vector<unsigned char>& p = prons[i];
                if (p.empty()) continue;
                // Whole words only against the longer commands: a short
                // one's near neighbours ("nope", "yet") are the command
                // itself said a little differently.
                const double most = std::max(1.0, 0.2 * static_cast<double>(p.size()));
                const double apart =
                    std::fabs(static_cast<double>(p.size()) - static_cast<double>(c.phones.size()));
                if (p.size() >= kMinWholeDecoyTarget && apart <= most) {
                    const double whole = phoneDistance(p, c.phones, cls, row);
                    if (whole <= most) best = std::min(best, whole);
                }
                if (i == 0 && c.phones.size() >= p.size() + kMinDecoyTail &&
                    hasVowel(c.phones, p.size())) {
                    // Its first phones against the command's, give or take one:
                    // the distance's last row holds every length of its head.
                    const std::size_t m = std::min(c.phones.size(), p.size() + 1);
                    const std::vector<unsigned char> head(c.phones.begin(), c.phones.begin() + m);
                    phoneDistance(p, head, cls, row);
                    for (std::size_t k = std::max<std::size_t>(p.size(), 2) - 1; k <= m; ++k)
                        if (row[k] <= 0.15 * static_cast<double>(p.size()))
                            best = std::min(best, row[k]);
                }
            }
            if (best < 1e9) {
                const std::size_t first = prons.front().size();
                const std::size_t extra =
                    c.phones.size() > first ? c.phones.size() - first : first - c.phones.size();
                near.push_back({best, extra, &c});
            }
        }
        std::stable_sort(near.begin(), near.end(), [](const Near& a, const Near& b) {
            return a.distance != b.distance ? a.distance < b.distance : a.extra < b.extra;
        });
        DecoyList& list = chosen[target.first];
        for (std::size_t k = 0; k < near.size() && k < static_cast<std::size_t>(perTarget); ++k)
            list.emplace_back(near[k].entry->word, near[k].entry->text);
    }
    return chosen;
}

struct Arc {
    int from, to;
    double prob;
    std::string word; // empty: a null arc
};

std::string formatProb(double p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", p);
    return buf;
}

// A grammar in the decoder's FSG text format. Each pronunciation of a word
// is an arc of its own ("chapter(2)"): the decoder's own expansion of
// alternatives walks every arc once per word, far too slow for a grammar of
// the commands' size.
std::string writeFsg(const char* name, const std::vector<Arc>& arcs, int states, int start,
                     int final, const std::unordered_map<std::string, int>& variants) {
    std::ostringstream out;
    out << "FSG_BEGIN " << name << "\nNUM_STATES " << states << "\nSTART_STATE " << start
        << "\nFINAL_STATE " << final << "\n";
    for (const Arc& a : arcs) {
        const auto found = a.word.empty() ? variants.end() : variants.find(a.word);
        const int n = found == variants.end() ? 1 : found->second;
        for (int v = 1; v <= n; ++v) {
            out << "TRANSITION " << a.from << ' ' << a.to << ' ' << formatProb(a.prob);
            if (!a.word.empty()) out << ' ' << a.word;
            if (v > 1) out << '(' << v << ')';
            out << '\n';
        }
    }
    out << "FSG_END\n";
    return out.str();
}

} // namespace

std::string baseWord(const std::string& word) {
    if (!word.empty() && word.back() == ')') {
        const std::size_t open = word.rfind('(');
        if (open != std::string::npos && open > 0) return word.substr(0, open);
    }
    return word;
}

std::vector<std::vector<std::string>> bookSegments(const std::string& text) {
    std::vector<std::vector<std::string>> segments;
    std::vector<std::string> current;
    auto close = [&]() {
        if (!current.empty()) segments.push_back(current);
        current.clear();
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        // One token: everything up to the next blank.
        const char c = text[pos];
        if (c == ' ') {
            // A second blank (two spaces after a sentence) breaks the run.
            if (pos + 1 < text.size() && text[pos + 1] == ' ') close();
            ++pos;
            continue;
        }
        if (c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
            close();
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\r' &&
               text[end] != '\n')
            ++end;
        const std::string token = text.substr(pos, end - pos);
        pos = end;
        std::size_t first = 0, last = token.size();
        while (first < last && !isWordChar(token[first]))
            ++first;
        while (last > first && !isWordChar(token[last - 1]))
            --last;
        if (first > 0) close(); // punctuation before the word
        std::string core = token.substr(first, last - first);
        bool clean = !core.empty();
        for (char& ch : core) {
            if (isWordChar(ch) || ch == '\'' || ch == '-' || ch == ',')
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            else
                clean = false;
        }
        // A comma inside a token only belongs in numbers ("4,000").
        if (clean && core.find(',') != std::string::npos &&
            core.find_first_not_of("0123456789,") != std::string::npos)
            clean = false;
        if (clean)
            current.push_back(core);
        else
            close();
        if (last < token.size()) close(); // punctuation after the word
    }
    close();
    return segments;
}

int Grammar::child(int node, int word) {
    auto it = trie_[node].next.find(word);
    if (it != trie_[node].next.end()) return it->second;
    trie_.push_back(Node());
    const int id = static_cast<int>(trie_.size()) - 1;
    trie_[id].parent = node;
    trie_[id].word = word;
    trie_[node].next[word] = id;
    return id;
}

std::vector<std::string> Grammar::runWords(int node) const {
    std::vector<std::string> out;
    for (; node > 0; node = trie_[node].parent)
        out.insert(out.begin(), words_[trie_[node].word]);
    return out;
}

std::vector<unsigned char> Grammar::runPhones(int node) const {
    std::vector<unsigned char> out;
    for (; node > 0; node = trie_[node].parent) {
        const auto& p = wordPhones_[trie_[node].word];
        out.insert(out.begin(), p.begin(), p.end());
    }
    return out;
}

void Grammar::build(const std::string& bookText, const Lexicon& lexicon,
                    const GrammarWeights& weights) {
    trie_.assign(1, Node());
    words_.clear();
    wordPhones_.clear();
    variantCount_.clear();
    wordIds_.clear();
    dictionary_.clear();
    unpronounceable_.clear();
    derived_ = ruled_ = 0;
    phraseCount_ = 0;

    std::set<std::string> inDictionary;
    auto addWord = [&](const std::string& word, const std::vector<std::string>& prons) {
        if (!inDictionary.insert(word).second) return;
        int n = 0;
        for (const std::string& p : prons) {
            ++n;
            dictionary_.emplace_back(n == 1 ? word : word + "(" + std::to_string(n) + ")", p);
        }
    };

    // Command and number words: the dictionary's pronunciations and our extras.
    std::vector<std::string> fixedWords = {"help",   "continue", "result",  "yes",
                                           "no",     "exit",     "program", "chapter",
                                           "locate", "hundred",  "and",     "a"};
    for (int v = 0; v <= 90; ++v) {
        const std::string w = valueToNumberWords(v);
        if (w.find(' ') == std::string::npos) fixedWords.push_back(w);
    }
    std::vector<std::pair<std::string, std::vector<std::string>>> decoyTargets;
    std::set<std::string> fixedSounds;
    for (const std::string& w : fixedWords) {
        std::vector<std::string> prons = lexicon.lookup(w);
        for (const auto& extra : kExtraPronunciations)
            if (w == extra.first &&
                std::find(prons.begin(), prons.end(), extra.second) == prons.end())
                prons.push_back(extra.second);
        if (prons.empty()) prons.push_back(Lexicon::spellOut(w));
        addWord(w, prons);
        fixedSounds.insert(prons.begin(), prons.end());
        if (std::find(std::begin(kDecoyTargets), std::end(kDecoyTargets), w) !=
            std::end(kDecoyTargets))
            decoyTargets.emplace_back(w, prons);
    }
    for (const char* p : kPhones)
        addWord(std::string(garbagePrefix()) + p, {p});

    // The book's runs of one to three words.
    std::map<std::string, bool> pronounceable; // word -> has a pronunciation
    std::set<std::string> missing;
    for (const std::vector<std::string>& segment : bookSegments(bookText)) {
        // Split further at words nothing can pronounce.
        std::vector<std::vector<std::string>> pieces(1);
        for (const std::string& w : segment) {
            auto known = pronounceable.find(w);
            if (known == pronounceable.end()) {
                Lexicon::Source source;
                std::vector<std::string> prons = lexicon.pronounce(w, &source);
                known = pronounceable.emplace(w, !prons.empty()).first;
                if (prons.empty()) {
                    missing.insert(w);
                } else {
                    if (source == Lexicon::Source::Derived) ++derived_;
                    if (source == Lexicon::Source::Rules) ++ruled_;
                    addWord(w, prons);
                }
                if (!wordIds_.count(w) && !prons.empty()) {
                    wordIds_[w] = static_cast<int>(words_.size());
                    words_.push_back(w);
                    wordPhones_.push_back(phoneIds(prons.front()));
                }
            }
            if (known->second)
                pieces.back().push_back(w);
            else if (!pieces.back().empty())
                pieces.emplace_back();
        }
        for (const std::vector<std::string>& piece : pieces)
            for (std::size_t i = 0; i < piece.size(); ++i) {
                int node = 0;
                for (std::size_t k = i; k < piece.size() && k < i + 3; ++k) {
                    node = child(node, wordIds_[piece[k]]);
                    if (!trie_[node].end) ++phraseCount_;
                    trie_[node].end = true;
                    ++trie_[node].uses;
                }
            }
    }
    unpronounceable_.assign(missing.begin(), missing.end());

    // Added after the book's words, so that a book word among them keeps
    // all its pronunciations.
    decoys_.clear();
    decoyEntry_ = weights.decoyEntry;
    if (weights.decoyEntry > 0 && weights.decoysPerCommand > 0) {
        const std::map<std::string, DecoyList> chosen = chooseDecoys(
            lexicon, decoyTargets, fixedSounds,
            std::set<std::string>(fixedWords.begin(), fixedWords.end()), weights.decoysPerCommand);
        for (const auto& target : chosen)
            for (const auto& d : target.second) {
                addWord(d.first, {d.second});
                decoys_[target.first].push_back(d.first);
            }
    }

    // States: 0 start, 1 final; then the rest as needed.
    std::vector<Arc> arcs;
    int states = 2;
    const int start = 0, final = 1;
    auto state = [&states]() { return states++; };
    std::vector<std::string> simple(std::begin(kSimpleCommands), std::end(kSimpleCommands));
    const double commandProb = 1.0 / 8;
    for (const std::string& w : simple)
        arcs.push_back({start, final, commandProb, w});
    const int exitState = state();
    arcs.push_back({start, exitState, commandProb, "exit"});
    arcs.push_back({exitState, final, 1.0, "program"});

    // "chapter" and a number, 0-999, as its structure: [unit|a hundred [and]] below-hundred.
    const int chapter = state();
    arcs.push_back({start, chapter, commandProb, "chapter"});
    const int afterUnit = state();    // "five": the end, or "five hundred"
    const int afterA = state();       // "a" before "hundred"
    const int afterHundred = state(); // the end, or "and", or a number below a hundred
    const int belowHundred = state(); // after "hundred" / "hundred and"
    const int afterTens = state();    // "twenty": the end, or "twenty five"
    arcs.push_back({chapter, final, 0.05, "zero"});
    arcs.push_back({chapter, afterA, 0.05, "a"});
    arcs.push_back({afterA, afterHundred, 1.0, "hundred"});
    for (int v = 1; v <= 9; ++v) {
        arcs.push_back({chapter, afterUnit, 0.05, valueToNumberWords(v)});
        arcs.push_back({belowHundred, final, 0.05, valueToNumberWords(v)});
        arcs.push_back({afterTens, final, 0.1, valueToNumberWords(v)});
    }
    // A unit or a tens word that ends the number is one number, as likely
    // as a teen: at half weight "forty" lost close calls to "fourteen".
    arcs.push_back({afterUnit, final, 1.0, ""});
    arcs.push_back({afterUnit, afterHundred, 0.5, "hundred"});
    for (int v = 10; v <= 19; ++v) {
        arcs.push_back({chapter, final, 0.05, valueToNumberWords(v)});
        arcs.push_back({belowHundred, final, 0.05, valueToNumberWords(v)});
    }
    for (int v = 20; v <= 90; v += 10) {
        arcs.push_back({chapter, afterTens, 0.05, valueToNumberWords(v)});
        arcs.push_back({belowHundred, afterTens, 0.05, valueToNumberWords(v)});
    }
    arcs.push_back({afterTens, final, 1.0, ""});
    arcs.push_back({afterHundred, final, 0.3, ""});
    arcs.push_back({afterHundred, belowHundred, 0.3, "and"});
    arcs.push_back({afterHundred, belowHundred, 0.4, ""});

    // "locate" and one to three words of the book. The decoder's work per
    // frame grows with the number of grammar states, so this first pass is a
    // plain loop; the second pass (the book's own language model) and the
    // check against the runs of the book settle which run it was.
    if (!words_.empty()) {
        const int first = state(), second = state(), third = state();
        arcs.push_back({start, first, commandProb * weights.locateEntry, "locate"});
        const double p = 1.0 / static_cast<double>(words_.size());
        for (const std::string& w : words_) {
            arcs.push_back({first, second, p, w});
            arcs.push_back({second, third, p, w});
            arcs.push_back({third, final, p, w});
        }
        arcs.push_back({second, final, 0.5, ""});
        arcs.push_back({third, final, 0.5, ""});
    }

    // Speech outside the vocabulary: a loop of phones that competes with the
    // commands, so that such speech is not forced onto the nearest command.
    if (weights.garbageEntry > 0) {
        const int garbage = state();
        arcs.push_back({start, garbage, weights.garbageEntry, ""});
        for (const char* p : kPhones) {
            arcs.push_back(
                {garbage, garbage, weights.garbagePhone, garbagePrefix() + std::string(p)});
            arcs.push_back(
                {garbage, final, weights.garbagePhone, garbagePrefix() + std::string(p)});
        }
    }

    for (const auto& entry : dictionary_)
        ++variantCount_[baseWord(entry.first)];
    fsg_ = writeFsg("commands", arcs, states, start, final, variantCount_);
}

std::string Grammar::languageModelText(double discount) const {
    if (words_.empty()) return "";
    // Word ids: the book's words, then "locate", <s> and </s>.
    const std::uint64_t locate = words_.size(), begin = locate + 1, end = locate + 2;
    auto name = [&](std::uint64_t id) -> std::string {
        if (id == locate) return "locate";
        if (id == begin) return "<s>";
        if (id == end) return "</s>";
        return words_[id];
    };
    constexpr int bits = 21;
    auto key = [](std::uint64_t a, std::uint64_t b, std::uint64_t c) {
        return (a << (2 * bits)) | (b << bits) | c;
    };
    const std::uint64_t none = (std::uint64_t(1) << bits) - 1;
    // Counts of n-grams over the sentences "<s> locate RUN </s>".
    std::unordered_map<std::uint64_t, double> count[3];
    std::vector<std::uint64_t> sentence;
    std::vector<std::uint64_t> path;
    // Depth-first over the tree of runs; every node below the root is a run.
    std::function<void(int)> walk = [&](int n) {
        for (const auto& kv : trie_[n].next) {
            path.push_back(std::uint64_t(kv.first));
            if (trie_[kv.second].end) {
                sentence.assign({begin, locate});
                sentence.insert(sentence.end(), path.begin(), path.end());
                sentence.push_back(end);
                for (std::size_t i = 1; i < sentence.size(); ++i) {
                    count[0][key(none, none, sentence[i])] += 1;
                    count[1][key(none, sentence[i - 1], sentence[i])] += 1;
                    if (i >= 2) count[2][key(sentence[i - 2], sentence[i - 1], sentence[i])] += 1;
                }
            }
            walk(kv.second);
            path.pop_back();
        }
    };
    walk(0);

    const std::uint64_t mask = none;
    const std::uint64_t low = (std::uint64_t(1) << (2 * bits)) - 1; // the last two words
    // Context totals and the number of distinct followers.
    std::unordered_map<std::uint64_t, std::pair<double, int>> context[3];
    for (int order = 1; order < 3; ++order)
        for (const auto& kv : count[order]) {
            auto& c = context[order][kv.first >> bits];
            c.first += kv.second;
            c.second += 1;
        }
    double unigramTotal = 0;
    for (const auto& kv : count[0])
        unigramTotal += kv.second;
    std::unordered_map<std::uint64_t, double> prob[3]; // by n-gram key
    for (const auto& kv : count[0])
        prob[0][kv.first] = kv.second / unigramTotal;
    for (int order = 1; order < 3; ++order)
        for (const auto& kv : count[order]) {
            const auto& c = context[order][kv.first >> bits];
            prob[order][kv.first] = (kv.second - discount) / c.first;
        }
    // Back-off weights: the mass left in a context spread over what the
    // shorter context gives the words not seen after it.
    std::unordered_map<std::uint64_t, double> backoff[2]; // by context key (1 or 2 words)
    for (int order = 1; order < 3; ++order) {
        std::unordered_map<std::uint64_t, double> seenLower;
        for (const auto& kv : count[order]) {
            const std::uint64_t lower = kv.first & low;
            const std::uint64_t lowerKey = order == 1
                                               ? key(none, none, lower & mask)
                                               : key(none, (lower >> bits) & mask, lower & mask);
            seenLower[kv.first >> bits] += prob[order - 1][lowerKey];
        }
        for (const auto& kv : context[order]) {
            const double left = discount * kv.second.second / kv.second.first;
            const double room = std::max(1e-6, 1.0 - seenLower[kv.first]);
            backoff[order - 1][kv.first] = left / room;
        }
    }
    auto lg = [](double p) { return p > 0 ? std::log10(p) : -99.0; };
    char buf[64];
    std::ostringstream out;
    out << "\\data\\\nngram 1=" << count[0].size() + 1 << "\nngram 2=" << count[1].size()
        << "\nngram 3=" << count[2].size() << "\n\n\\1-grams:\n";
    auto bo = [&](int order, std::uint64_t ctx) {
        auto it = backoff[order].find(ctx);
        return it == backoff[order].end() ? std::string() : " " + formatProb(lg(it->second));
    };
    out << "-99 <s>" << bo(0, key(0, none, begin) & low) << '\n';
    for (const auto& kv : count[0]) {
        const std::uint64_t w = kv.first & mask;
        std::snprintf(buf, sizeof buf, "%.5f", lg(prob[0][kv.first]));
        out << buf << ' ' << name(w) << bo(0, key(0, none, w) & low) << '\n';
    }
    out << "\n\\2-grams:\n";
    for (const auto& kv : count[1]) {
        const std::uint64_t a = (kv.first >> bits) & mask, b = kv.first & mask;
        std::snprintf(buf, sizeof buf, "%.5f", lg(prob[1][kv.first]));
        out << buf << ' ' << name(a) << ' ' << name(b) << bo(1, kv.first & low) << '\n';
    }
    out << "\n\\3-grams:\n";
    for (const auto& kv : count[2]) {
        const std::uint64_t a = (kv.first >> (2 * bits)) & mask, b = (kv.first >> bits) & mask,
                            c = kv.first & mask;
        std::snprintf(buf, sizeof buf, "%.5f", lg(prob[2][kv.first]));
        out << buf << ' ' << name(a) << ' ' << name(b) << ' ' << name(c) << '\n';
    }
    out << "\n\\end\\\n";
    return out.str();
}

std::vector<std::vector<std::string>>
Grammar::nearestRuns(const std::vector<std::vector<std::string>>& heard, std::size_t count) const {
    std::vector<int> cls(sizeof kPhones / sizeof kPhones[0]);
    for (std::size_t i = 0; i < cls.size(); ++i)
        cls[i] = phoneClass(static_cast<int>(i));
    std::vector<std::vector<unsigned char>> targets;
    for (const auto& words : heard) {
        std::vector<unsigned char> phones;
        for (const std::string& w : words) {
            auto id = wordIds_.find(baseWord(w));
            if (id == wordIds_.end()) continue;
            const auto& p = wordPhones_[id->second];
            phones.insert(phones.end(), p.begin(), p.end());
        }
        if (!phones.empty() && std::find(targets.begin(), targets.end(), phones) == targets.end())
            targets.push_back(phones);
    }
    std::vector<std::pair<double, int>> scored; // distance, node
    if (targets.empty()) return {};
    std::vector<double> row;
    std::vector<unsigned char> phones;
    // Every node below the root is a run: walk them with their phones.
    std::vector<std::pair<int, std::size_t>> stack; // node, phone count of its parent
    for (const auto& kv : trie_[0].next)
        stack.emplace_back(kv.second, 0);
    while (!stack.empty()) {
        const int node = stack.back().first;
        const std::size_t keep = stack.back().second;
        stack.pop_back();
        phones.resize(keep);
        const auto& p = wordPhones_[trie_[node].word];
        phones.insert(phones.end(), p.begin(), p.end());
        if (trie_[node].end) {
            double best = 1e9;
            for (const auto& t : targets)
                best = std::min(best, phoneDistance(t, phones, cls, row));
            scored.emplace_back(best, node);
        }
        for (const auto& kv : trie_[node].next)
            stack.emplace_back(kv.second, phones.size());
    }
    // Runs that sound the same ("salt workers", "salt-workers") cannot be
    // told apart by the audio: only the one the book uses most is offered.
    // Such runs lie at the same distance, so a few beyond `count` suffice.
    const std::size_t sorted = std::min(count + count / 4 + 8, scored.size());
    std::partial_sort(scored.begin(), scored.begin() + static_cast<long>(sorted), scored.end());
    std::vector<int> kept;
    std::map<std::vector<unsigned char>, std::size_t> keptBySound;
    for (std::size_t i = 0; i < sorted; ++i) {
        const int node = scored[i].second;
        const std::vector<unsigned char> sound = runPhones(node);
        const auto same = keptBySound.find(sound);
        if (same != keptBySound.end()) {
            if (trie_[node].uses > trie_[kept[same->second]].uses) kept[same->second] = node;
        } else if (kept.size() < count) {
            keptBySound.emplace(sound, kept.size());
            kept.push_back(node);
        }
    }
    std::vector<std::vector<std::string>> out;
    for (int node : kept)
        out.push_back(runWords(node));
    return out;
}

std::string Grammar::runsFsgText(const std::vector<std::vector<std::string>>& runs,
                                 const std::vector<double>& weights) const {
    // The runs as a tree of their own: state 0 start, 1 final, 2 after "locate".
    // Each node carries the weight of the runs through it, so that every run
    // keeps its own share to the end.
    struct Small {
        std::map<std::string, int> next;
        bool end = false;
        double below = 0;
        double ending = 0; // the weight of the run that ends here
    };
    std::vector<Small> tree(1);
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const auto& run = runs[r];
        const double weight = r < weights.size() ? weights[r] : 1.0;
        int n = 0;
        tree[0].below += weight;
        for (const std::string& w : run) {
            auto it = tree[static_cast<std::size_t>(n)].next.find(w);
            int c;
            if (it == tree[static_cast<std::size_t>(n)].next.end()) {
                tree.push_back(Small());
                c = static_cast<int>(tree.size()) - 1;
                tree[static_cast<std::size_t>(n)].next[w] = c;
            } else {
                c = it->second;
            }
            n = c;
            tree[static_cast<std::size_t>(n)].below += weight;
        }
        tree[static_cast<std::size_t>(n)].end = true;
        tree[static_cast<std::size_t>(n)].ending += weight;
    }
    std::ostringstream arcs;
    int states = 3;
    std::vector<int> stateOf(tree.size(), -1);
    stateOf[0] = 2;
    auto variantsOf = [this](const std::string& w) {
        auto it = variantCount_.find(w);
        return it == variantCount_.end() ? 1 : it->second;
    };
    auto arc = [&](int from, int to, double p, const std::string& w) {
        const int n = w.empty() ? 1 : variantsOf(w);
        for (int v = 1; v <= n; ++v) {
            arcs << "TRANSITION " << from << ' ' << to << ' ' << formatProb(p);
            if (!w.empty()) arcs << ' ' << w << (v > 1 ? "(" + std::to_string(v) + ")" : "");
            arcs << '\n';
        }
    };
    arc(0, 2, 1.0, "locate");
    for (std::size_t n = 0; n < tree.size(); ++n) {
        if (tree[n].next.empty()) continue; // a leaf: its arc went to the final state
        for (const auto& kv : tree[n].next) {
            const Small& c = tree[static_cast<std::size_t>(kv.second)];
            int to = 1;
            if (!c.next.empty()) {
                stateOf[static_cast<std::size_t>(kv.second)] = states++;
                to = stateOf[static_cast<std::size_t>(kv.second)];
            }
            arc(stateOf[n], to, c.below / tree[n].below, kv.first);
        }
        if (n != 0 && tree[n].end && !tree[n].next.empty())
            arc(stateOf[n], 1, tree[n].ending / tree[n].below, "");
    }
    std::ostringstream out;
    out << "FSG_BEGIN runs\nNUM_STATES " << states << "\nSTART_STATE 0\nFINAL_STATE 1\n"
        << arcs.str() << "FSG_END\n";
    return out.str();
}

std::string Grammar::decoyFsgText(const std::vector<std::string>& command) const {
    if (command.empty()) return "";
    const auto found = decoys_.find(command.front());
    if (found == decoys_.end() || found->second.empty()) return "";
    std::vector<Arc> arcs;
    int states = 2;
    const int start = 0, final = 1;
    int at = start;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const int to = i + 1 == command.size() ? final : states++;
        arcs.push_back({at, to, 1.0, command[i]});
        at = to;
    }
    for (const std::string& w : found->second)
        arcs.push_back({start, final, decoyEntry_, w});
    return writeFsg("decoys", arcs, states, start, final, variantCount_);
}

std::string Grammar::textForm(const std::vector<std::string>& raw) const {
    std::vector<std::string> words;
    for (const std::string& w : raw) {
        const std::string b = baseWord(w);
        if (b.empty() || b[0] == '<' || b[0] == '[' || b == "(NULL)") continue; // silence, fillers
        if (b.compare(0, std::char_traits<char>::length(garbagePrefix()), garbagePrefix()) == 0)
            return "";
        words.push_back(b);
    }
    if (words.empty()) return "";
    const std::string& head = words[0];
    if (words.size() == 1 && std::find(std::begin(kSimpleCommands), std::end(kSimpleCommands),
                                       head) != std::end(kSimpleCommands))
        return head + " ";
    if (words.size() == 2 && head == "exit" && words[1] == "program") return "exit program ";
    if (head == "chapter" && words.size() > 1) {
        std::string number;
        for (std::size_t i = 1; i < words.size(); ++i)
            number += (i > 1 ? " " : "") + words[i];
        const int value = numberWordsToValue(number);
        if (value < 0) return "";
        return "chapter " + std::to_string(value) + " ";
    }
    if (head == "locate" && words.size() >= 2 && words.size() <= 4) {
        int node = 0;
        std::string text = "locate ";
        for (std::size_t i = 1; i < words.size(); ++i) {
            auto id = wordIds_.find(words[i]);
            if (id == wordIds_.end()) return "";
            auto next = trie_[node].next.find(id->second);
            if (next == trie_[node].next.end()) return "";
            node = next->second;
            text += words[i] + " ";
        }
        return trie_[node].end ? text : "";
    }
    return "";
}

} // namespace speechkit
