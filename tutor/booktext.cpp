#include "booktext.h"

#include "../common/hashz.h"
#include "../platform/platform.h"
#include "bookconstants.h"
#include "state.h"

namespace tutor {

std::string LoadBookText() {
    std::string text;
    if (!platform::readFileNoCreate(bookPath, kBookReadLimit, text)) return std::string();
    return text;
}

void CheckBookIntegrity(const std::string& text) {
    const common::PositionSums sums = common::positionSums(text);
    textValid = true;
    for (std::size_t i = 0; i < sums.size(); ++i)
        if (sums[i] != kExpectedBookSums[i]) textValid = false;
}

void BuildParagraphs(const std::string& text) {
    std::size_t k = 0;
    for (char c : text) {
        if (c == '\n' || c == '\f' || c == '\t') continue;
        if (c == '\r') {
            // More lines than the table holds are not supported; stop there
            // rather than write past it.
            if (++k >= paragraphs.size()) return;
            continue;
        }
        paragraphs[k] += c;
    }
}

void BuildParagraphWords() {
    const long maxWord = WordTable::kWords - 1;
    for (long k = 1; k <= kLastParagraph; ++k) {
        long w = 0;
        for (char c : paragraphs[static_cast<std::size_t>(k)]) {
            if (c == ' ')
                ++w;
            else
                paragraphWords.append(k, w, c);
            if (w >= maxWord) break;
        }
        if (k < static_cast<long>(lastWordIndex.size()))
            lastWordIndex[static_cast<std::size_t>(k)] = w;
    }
}

} // namespace tutor
