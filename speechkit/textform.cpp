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

std::vector<std::string> sentencePieces(const std::string& text, std::size_t maxBytes) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.size();
        if (end - start > maxBytes) {
            std::size_t cut = std::string::npos;
            for (std::size_t i = start; i + 1 < start + maxBytes; ++i)
                if ((text[i] == '.' || text[i] == '!' || text[i] == '?' || text[i] == '\n') &&
                    (text[i + 1] == ' ' || text[i + 1] == '\n'))
                    cut = i + 1;
            if (cut == std::string::npos) {
                const std::size_t space = text.find_last_of(' ', start + maxBytes);
                if (space != std::string::npos && space > start) cut = space;
            }
            end = cut == std::string::npos ? start + maxBytes : cut;
            while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
                ++end;
        }
        out.push_back(text.substr(start, end - start));
        start = end;
    }
    return out;
}

} // namespace speechkit
