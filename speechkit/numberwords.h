#pragma once
#include <string>

namespace speechkit {

// "one hundred and twelve" -> 112, "a hundred" -> 100, "twenty-three" -> 23;
// words are separated by spaces (or hyphens), case does not matter. Covers
// 0-999; -1 for anything else ("twenty ten", "hundred hundred", "and five",
// an empty text).
int numberWordsToValue(const std::string& words);

// The spoken form of 0-999 in lower case, words separated by one space:
// 112 -> "one hundred twelve", or "one hundred and twelve" with withAnd.
// "" outside 0-999.
std::string valueToNumberWords(int value, bool withAnd = false);

} // namespace speechkit
