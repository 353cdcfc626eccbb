// The text form in which recognitions are delivered: every word followed by
// one space, numbers as digits ("chapter 12 ", "locate harbour walls ").
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace speechkit {

// Words of a recognised phrase (any spacing, any case, trailing
// punctuation) in the text form: lower case, single spaces, each word
// followed by one space; punctuation that is not inside a word dropped.
std::string textForm(const std::string& words);

// The words a number 0-999 is spoken with: "one hundred twelve"; with
// withAnd, "one hundred and twelve" (the same as without for numbers that
// have no hundreds or nothing after them).
std::string numberWords(int value, bool withAnd);

// The text in pieces of whole sentences, each at most about maxBytes long
// (a longer sentence is cut between words, a word longer than that at
// maxBytes), never inside a UTF-8 sequence; joined they give the text.
std::vector<std::string> sentencePieces(const std::string& text, std::size_t maxBytes);

} // namespace speechkit
