#include "lexicon.h"

#include "numberwords.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace speechkit {

namespace {

bool allDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool endsWith(const std::string& s, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

std::string lastPhone(const std::string& phones) {
    const std::size_t space = phones.rfind(' ');
    return space == std::string::npos ? phones : phones.substr(space + 1);
}

bool isVoiceless(const std::string& p) {
    return p == "P" || p == "T" || p == "K" || p == "F" || p == "TH";
}
bool isSibilant(const std::string& p) {
    return p == "S" || p == "Z" || p == "SH" || p == "ZH" || p == "CH" || p == "JH";
}

// The "-s" ending after a pronunciation: "cats" S, "dogs" Z, "horses" IH Z.
std::string withS(const std::string& base) {
    const std::string last = lastPhone(base);
    if (isSibilant(last)) return base + " IH Z";
    return base + (isVoiceless(last) ? " S" : " Z");
}
// The "-ed" ending: "walked" T, "rolled" D, "silted" IH D.
std::string withEd(const std::string& base) {
    const std::string last = lastPhone(base);
    if (last == "T" || last == "D") return base + " IH D";
    return base + (isVoiceless(last) || isSibilant(last) ? " T" : " D");
}

bool isVowelLetter(char c) {
    return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u';
}

// Spoken forms of a number written in digits, up to 9,999: the cardinal
// reading, with and without "and", and for four digits the way years are read
// ("1104" eleven oh four, "1300" thirteen hundred).
std::vector<std::string> numberReadings(int n) {
    std::vector<std::string> out;
    auto add = [&out](const std::string& s) {
        if (!s.empty() && std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
    };
    if (n < 1000) {
        add(valueToNumberWords(n, false));
        add(valueToNumberWords(n, true));
        return out;
    }
    const int thousands = n / 1000, rest = n % 1000;
    for (bool withAnd : {false, true}) {
        std::string s = valueToNumberWords(thousands) + " thousand";
        if (rest > 0)
            s += (rest < 100 && withAnd ? " and " : " ") + valueToNumberWords(rest, withAnd);
        add(s);
    }
    const int high = n / 100, low = n % 100;
    if (high % 10 != 0) { // "2000" is not read "twenty hundred"
        if (low == 0)
            add(valueToNumberWords(high) + " hundred");
        else if (low < 10)
            add(valueToNumberWords(high) + " oh " + valueToNumberWords(low));
        else
            add(valueToNumberWords(high) + " " + valueToNumberWords(low));
    }
    return out;
}

} // namespace

bool Lexicon::load(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::string text;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    std::fclose(f);
    loadText(std::move(text));
    return !entries_.empty();
}

void Lexicon::loadText(std::string text) {
    text_ = std::move(text);
    entries_.clear();
    std::string_view all(text_);
    std::size_t pos = 0;
    while (pos < all.size()) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string_view::npos) end = all.size();
        std::string_view line = all.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        const std::size_t gap = line.find_first_of(" \t");
        if (gap == std::string_view::npos || gap == 0) continue;
        std::string_view word = line.substr(0, gap);
        std::string_view phones = line.substr(gap);
        const std::size_t first = phones.find_first_not_of(" \t");
        if (first == std::string_view::npos) continue;
        phones.remove_prefix(first);
        if (word.back() == ')') { // "word(2)"
            const std::size_t open = word.rfind('(');
            if (open != std::string_view::npos && open > 0) word = word.substr(0, open);
        }
        entries_.push_back({word, phones});
    }
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.word < b.word; });
}

std::vector<std::string> Lexicon::lookup(std::string_view word) const {
    std::vector<std::string> out;
    auto it = std::lower_bound(entries_.begin(), entries_.end(), word,
                               [](const Entry& e, std::string_view w) { return e.word < w; });
    for (; it != entries_.end() && it->word == word; ++it) {
        std::string phones(it->phones);
        // The model's dictionary separates phones by single spaces; be lenient.
        std::string clean;
        bool gap = false;
        for (char c : phones) {
            if (c == ' ' || c == '\t') {
                gap = !clean.empty();
                continue;
            }
            if (gap) clean += ' ';
            gap = false;
            clean += c;
        }
        if (std::find(out.begin(), out.end(), clean) == out.end()) out.push_back(clean);
    }
    return out;
}

std::vector<std::string> Lexicon::pronounce(const std::string& word, Source* source) const {
    if (source) *source = Source::None;
    std::vector<std::string> found = lookup(word);
    if (!found.empty()) {
        if (source) *source = Source::Dictionary;
        return found;
    }
    found = derive(word, 0);
    if (!found.empty()) {
        if (source) *source = Source::Derived;
        return found;
    }
    bool hasLetter = false;
    for (char c : word)
        hasLetter = hasLetter || (c >= 'a' && c <= 'z');
    if (!hasLetter || word.find_first_not_of("abcdefghijklmnopqrstuvwxyz'-") != std::string::npos)
        return {};
    std::string letters;
    for (char c : word)
        if (c >= 'a' && c <= 'z') letters += c;
    const std::string spelled = spellOut(letters);
    if (spelled.empty()) return {};
    if (source) *source = Source::Rules;
    return {spelled};
}

std::vector<std::string> Lexicon::derive(const std::string& word, int depth) const {
    if (depth > 3 || word.empty()) return {};
    // The first pronunciation a part has, in the dictionary or derived.
    auto first = [this, depth](const std::string& part) -> std::string {
        std::vector<std::string> p = lookup(part);
        if (p.empty()) p = derive(part, depth + 1);
        return p.empty() ? std::string() : p.front();
    };
    std::vector<std::string> out;

    // Numbers written in digits (commas between thousands allowed).
    std::string digits;
    for (char c : word)
        if (c != ',') digits += c;
    if (allDigits(digits) && digits.size() <= 4 && (digits == word || digits.size() == 4)) {
        for (const std::string& reading : numberReadings(std::stoi(digits))) {
            std::string phones;
            std::size_t pos = 0;
            while (pos < reading.size()) {
                std::size_t sp = reading.find(' ', pos);
                if (sp == std::string::npos) sp = reading.size();
                const std::string p = first(reading.substr(pos, sp - pos));
                if (p.empty()) {
                    phones.clear();
                    break;
                }
                phones += (phones.empty() ? "" : " ") + p;
                pos = sp + 1;
            }
            if (!phones.empty()) out.push_back(phones);
        }
        return out;
    }
    if (!std::all_of(word.begin(), word.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || c == '\'' || c == '-'; }))
        return {};

    // Hyphenated words: the parts one after the other.
    if (word.find('-') != std::string::npos) {
        std::string phones;
        std::size_t pos = 0;
        while (pos <= word.size()) {
            std::size_t dash = word.find('-', pos);
            if (dash == std::string::npos) dash = word.size();
            if (dash > pos) {
                std::string p = first(word.substr(pos, dash - pos));
                if (p.empty()) return {};
                phones += (phones.empty() ? "" : " ") + p;
            }
            pos = dash + 1;
        }
        if (!phones.empty()) out.push_back(phones);
        return out;
    }

    // Possessives: "city's", "sailors'".
    if (endsWith(word, "'s")) {
        const std::string base = first(word.substr(0, word.size() - 2));
        if (!base.empty()) return {withS(base)};
        return {};
    }
    if (word.back() == '\'') {
        const std::string base = first(word.substr(0, word.size() - 1));
        if (!base.empty()) return {base};
        return {};
    }
    if (word.find('\'') != std::string::npos) return {};

    // British spellings the dictionary has in their American form.
    const std::pair<const char*, const char*> spellings[] = {
        {"our", "or"},   {"ise", "ize"},   {"isa", "iza"}, {"lled", "led"}, {"lling", "ling"},
        {"llor", "lor"}, {"grey", "gray"}, {"tre", "ter"}, {"ogue", "og"}};
    for (const auto& s : spellings) {
        const std::size_t at = word.find(s.first);
        if (at == std::string::npos) continue;
        std::string other = word;
        other.replace(at, std::strlen(s.first), s.second);
        std::vector<std::string> p = lookup(other);
        if (p.empty()) p = derive(other, depth + 1);
        if (!p.empty()) return p;
    }

    // Endings on a known stem.
    struct Ending {
        const char* tail;
        const char* stemTail; // appended to the stem before looking it up
        int kind;             // 0 -s, 1 -ed, 2 plain phones
        const char* phones;
    };
    const Ending endings[] = {
        {"ies", "y", 0, ""},       {"es", "", 0, ""},        {"s", "", 0, ""},
        {"ied", "y", 1, ""},       {"ed", "", 1, ""},        {"ed", "e", 1, ""},
        {"d", "", 1, ""},          {"ing", "", 2, "IH NG"},  {"ing", "e", 2, "IH NG"},
        {"est", "", 2, "AH S T"},  {"er", "", 2, "ER"},      {"ly", "", 2, "L IY"},
        {"ness", "", 2, "N AH S"}, {"ful", "", 2, "F AH L"}, {"less", "", 2, "L AH S"}};
    for (const Ending& e : endings) {
        if (!endsWith(word, e.tail) || word.size() < std::strlen(e.tail) + 3) continue;
        const std::string stem = word.substr(0, word.size() - std::strlen(e.tail)) + e.stemTail;
        std::vector<std::string> p = lookup(stem);
        if (p.empty()) continue;
        if (e.kind == 0) return {withS(p.front())};
        if (e.kind == 1) return {withEd(p.front())};
        return {p.front() + " " + e.phones};
    }

    // Prefixes on a known word.
    const std::pair<const char*, const char*> prefixes[] = {
        {"un", "AH N"}, {"re", "R IY"}, {"mis", "M IH S"}, {"mid", "M IH D"}, {"over", "OW V ER"}};
    for (const auto& pre : prefixes) {
        const std::size_t n = std::strlen(pre.first);
        if (word.size() < n + 3 || word.compare(0, n, pre.first) != 0) continue;
        std::vector<std::string> p = lookup(word.substr(n));
        if (p.empty() && depth < 2) p = derive(word.substr(n), depth + 1);
        if (!p.empty()) return {std::string(pre.second) + " " + p.front()};
    }

    // Compounds of two known words ("boatmen", "watchtower"): the split with
    // the most even parts, each at least three letters long.
    std::string best;
    std::size_t bestShort = 0;
    for (std::size_t cut = 3; cut + 3 <= word.size(); ++cut) {
        const std::vector<std::string> a = lookup(word.substr(0, cut));
        if (a.empty()) continue;
        std::vector<std::string> b = lookup(word.substr(cut));
        if (b.empty() && depth < 2) b = derive(word.substr(cut), depth + 2);
        if (b.empty()) continue;
        const std::size_t shorter = std::min(cut, word.size() - cut);
        if (shorter > bestShort) {
            bestShort = shorter;
            best = a.front() + " " + b.front();
        }
    }
    if (!best.empty()) return {best};
    return {};
}

std::string Lexicon::spellOut(const std::string& w) {
    std::vector<std::string> ph;
    const std::size_t n = w.size();
    auto at = [&w, n](std::size_t i) -> char { return i < n ? w[i] : '\0'; };
    auto isV = [](char c) { return isVowelLetter(c) || c == 'y'; };
    // A vowel is long before one consonant and a final "e" ("vane", "kord"
    // is not: two consonants follow).
    auto magicE = [&](std::size_t i) {
        return i + 2 == n - 1 && at(n - 1) == 'e' && !isV(at(i + 1)) && at(i + 1) != '\0';
    };
    for (std::size_t i = 0; i < n;) {
        const char c = w[i];
        const char next = at(i + 1);
        auto two = [&](const char* s) { return c == s[0] && next == s[1]; };
        // Consonant groups.
        if (two("ch")) {
            ph.push_back("CH");
            i += 2;
            continue;
        }
        if (two("sh")) {
            ph.push_back("SH");
            i += 2;
            continue;
        }
        if (two("th")) {
            ph.push_back("TH");
            i += 2;
            continue;
        }
        if (two("ph")) {
            ph.push_back("F");
            i += 2;
            continue;
        }
        if (two("ck")) {
            ph.push_back("K");
            i += 2;
            continue;
        }
        if (two("wh")) {
            ph.push_back("W");
            i += 2;
            continue;
        }
        if (two("qu")) {
            ph.push_back("K");
            ph.push_back("W");
            i += 2;
            continue;
        }
        if (two("ng") && !isV(at(i + 2))) {
            ph.push_back("NG");
            i += 2;
            continue;
        }
        if (two("gh")) {
            i += 2;
            continue;
        }
        if (i == 0 && (two("kn") || two("wr"))) {
            i += 1;
            continue;
        }
        // Vowel groups.
        if (two("ee") || two("ea") || two("ie")) {
            ph.push_back("IY");
            i += 2;
            continue;
        }
        if (two("oo")) {
            ph.push_back("UW");
            i += 2;
            continue;
        }
        if (two("ou")) {
            ph.push_back("AW");
            i += 2;
            continue;
        }
        if (two("ow")) {
            ph.push_back("OW");
            i += 2;
            continue;
        }
        if (two("ai") || two("ay") || two("ei") || two("ey")) {
            ph.push_back("EY");
            i += 2;
            continue;
        }
        if (two("oi") || two("oy")) {
            ph.push_back("OY");
            i += 2;
            continue;
        }
        if (two("au") || two("aw")) {
            ph.push_back("AO");
            i += 2;
            continue;
        }
        if (isVowelLetter(c) && next == 'r' && !isV(at(i + 2))) {
            if (c == 'a') ph.push_back("AA");
            if (c == 'o') ph.push_back("AO");
            ph.push_back(c == 'a' || c == 'o' ? "R" : "ER"); // "er", "ir", "ur": one sound
            i += 2;
            continue;
        }
        if (c == next && !isV(c)) {
            ++i;
            continue;
        } // double consonants read as one
        switch (c) {
        case 'a':
            ph.push_back(magicE(i) ? "EY" : (i + 1 == n ? "AH" : "AE"));
            break;
        case 'e':
            if (i + 1 == n && n > 3) break; // silent final e
            ph.push_back(magicE(i) ? "IY" : (i + 1 == n ? "IY" : "EH"));
            break;
        case 'i':
            ph.push_back(magicE(i) ? "AY" : (i + 1 == n ? "IY" : "IH"));
            break;
        case 'o':
            ph.push_back(magicE(i) || i + 1 == n ? "OW" : "AA");
            break;
        case 'u':
            ph.push_back(magicE(i) ? "UW" : "AH");
            break;
        case 'y':
            if (i == 0 && isV(next))
                ph.push_back("Y");
            else
                ph.push_back(i + 1 == n ? "IY" : "IH");
            break;
        case 'c':
            ph.push_back(next == 'e' || next == 'i' || next == 'y' ? "S" : "K");
            break;
        case 'g':
            ph.push_back(i + 2 == n && next == 'e' ? "JH" : "G");
            break;
        case 'j':
            ph.push_back("JH");
            break;
        case 'x':
            if (i == 0)
                ph.push_back("Z");
            else {
                ph.push_back("K");
                ph.push_back("S");
            }
            break;
        case 'q':
            ph.push_back("K");
            break;
        case 'b':
            ph.push_back("B");
            break;
        case 'd':
            ph.push_back("D");
            break;
        case 'f':
            ph.push_back("F");
            break;
        case 'h':
            ph.push_back("HH");
            break;
        case 'k':
            ph.push_back("K");
            break;
        case 'l':
            ph.push_back("L");
            break;
        case 'm':
            ph.push_back("M");
            break;
        case 'n':
            ph.push_back("N");
            break;
        case 'p':
            ph.push_back("P");
            break;
        case 'r':
            ph.push_back("R");
            break;
        case 's':
            ph.push_back(i > 0 && isV(at(i - 1)) && isV(next) ? "Z" : "S");
            break;
        case 't':
            ph.push_back("T");
            break;
        case 'v':
            ph.push_back("V");
            break;
        case 'w':
            ph.push_back("W");
            break;
        case 'z':
            ph.push_back("Z");
            break;
        default:
            break;
        }
        ++i;
    }
    std::string out;
    for (const std::string& p : ph)
        out += (out.empty() ? "" : " ") + p;
    return out;
}

} // namespace speechkit
