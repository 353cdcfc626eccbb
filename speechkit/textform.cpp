#include "textform.h"

namespace speechkit {

std::string textForm(const std::string& words) {
    std::string out, word;
    const auto flush = [&] {
        // Sentence punctuation a dictation engine adds is not part of a word.
        while (!word.empty() && (word.back() == '.' || word.back() == ',' || word.back() == '?' ||
                                 word.back() == '!' || word.back() == ';' || word.back() == ':'))
            word.pop_back();
        if (!word.empty()) out += word + ' ';
        word.clear();
    };
    for (char c : words) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            flush();
            continue;
        }
        word += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    flush();
    return out;
}

std::string numberWords(int value, bool withAnd) {
    static const char* const kOnes[] = {"zero",    "one",     "two",       "three",    "four",
                                        "five",    "six",     "seven",     "eight",    "nine",
                                        "ten",     "eleven",  "twelve",    "thirteen", "fourteen",
                                        "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"};
    static const char* const kTens[] = {"",      "",      "twenty",  "thirty", "forty",
                                        "fifty", "sixty", "seventy", "eighty", "ninety"};
    if (value < 0 || value > 999) return std::string();
    std::string out;
    const int hundreds = value / 100, rest = value % 100;
    if (hundreds > 0) {
        out = std::string(kOnes[hundreds]) + " hundred";
        if (rest == 0) return out;
        out += withAnd ? " and " : " ";
    }
    if (rest < 20) {
        if (rest > 0 || hundreds == 0) out += kOnes[rest];
    } else {
        out += kTens[rest / 10];
        if (rest % 10) out += std::string(" ") + kOnes[rest % 10];
    }
    return out;
}

} // namespace speechkit
