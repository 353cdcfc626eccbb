// The text form in which recognitions are delivered: every word followed by
// one space, numbers as digits ("chapter 12 ", "locate harbour walls ").
#pragma once

#include <string>

namespace speechkit {

// Words of a recognised phrase (any spacing, any case, trailing
// punctuation) in the text form: lower case, single spaces, each word
// followed by one space; punctuation that is not inside a word dropped.
std::string textForm(const std::string& words);

// The words a number 0-999 is spoken with: "one hundred twelve"; with
// withAnd, "one hundred and twelve" (the same as without for numbers that
// have no hundreds or nothing after them).
std::string numberWords(int value, bool withAnd);

} // namespace speechkit
