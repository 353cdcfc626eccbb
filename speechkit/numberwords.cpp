#include "numberwords.h"

#include <cctype>
#include <sstream>
#include <vector>

namespace speechkit {

namespace {

const char* const kUnits[] = {"zero", "one", "two",   "three", "four",
                              "five", "six", "seven", "eight", "nine"};
const char* const kTeens[] = {"ten",     "eleven",  "twelve",    "thirteen", "fourteen",
                              "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"};
const char* const kTens[] = {"",      "",      "twenty",  "thirty", "forty",
                             "fifty", "sixty", "seventy", "eighty", "ninety"};

int indexIn(const char* const* table, int size, const std::string& word) {
    for (int i = 0; i < size; ++i)
        if (word == table[i]) return i;
    return -1;
}

int unitValue(const std::string& w) { // 1-9
    const int i = indexIn(kUnits, 10, w);
    return i >= 1 ? i : -1;
}
int teenValue(const std::string& w) { // 10-19
    const int i = indexIn(kTeens, 10, w);
    return i >= 0 ? 10 + i : -1;
}
int tensValue(const std::string& w) { // 20, 30, ... 90
    const int i = indexIn(kTens, 10, w);
    return i >= 2 ? 10 * i : -1;
}

// 1-99 from words[pos...]: a unit, a teen, or tens with an optional unit.
// Returns the value and advances pos, or -1 leaving pos.
int belowHundred(const std::vector<std::string>& words, size_t& pos) {
    if (pos >= words.size()) return -1;
    const std::string& w = words[pos];
    int v = unitValue(w);
    if (v < 0) v = teenValue(w);
    if (v >= 0) {
        ++pos;
        return v;
    }
    v = tensValue(w);
    if (v < 0) return -1;
    ++pos;
    if (pos < words.size()) {
        const int u = unitValue(words[pos]);
        if (u >= 0) {
            ++pos;
            v += u;
        }
    }
    return v;
}

} // namespace

int numberWordsToValue(const std::string& text) {
    std::vector<std::string> words;
    std::string cur;
    for (char c : text) {
        if (c == ' ' || c == '-' || c == '\t') {
            if (!cur.empty()) words.push_back(cur);
            cur.clear();
        } else {
            cur += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    if (!cur.empty()) words.push_back(cur);
    if (words.empty()) return -1;
    if (words.size() == 1 && words[0] == "zero") return 0;

    size_t pos = 0;
    int value = 0;
    // Hundreds: "<unit> hundred" or "a hundred".
    if (words.size() >= 2 && words[1] == "hundred") {
        const int h = words[0] == "a" ? 1 : unitValue(words[0]);
        if (h < 0) return -1;
        value = 100 * h;
        pos = 2;
        if (pos == words.size()) return value;
        if (words[pos] == "and") {
            ++pos;
            if (pos == words.size()) return -1; // "one hundred and"
        }
    }
    const int rest = belowHundred(words, pos);
    if (rest < 0 || pos != words.size()) return -1;
    return value + rest;
}

std::string valueToNumberWords(int value, bool withAnd) {
    if (value < 0 || value > 999) return "";
    if (value == 0) return "zero";
    std::ostringstream out;
    const int hundreds = value / 100;
    const int rest = value % 100;
    if (hundreds > 0) {
        out << kUnits[hundreds] << " hundred";
        if (rest == 0) return out.str();
        out << (withAnd ? " and " : " ");
    }
    if (rest < 10) {
        out << kUnits[rest];
    } else if (rest < 20) {
        out << kTeens[rest - 10];
    } else {
        out << kTens[rest / 10];
        if (rest % 10) out << ' ' << kUnits[rest % 10];
    }
    return out.str();
}

} // namespace speechkit
