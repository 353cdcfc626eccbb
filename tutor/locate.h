#pragma once
#include <string>

namespace tutor {

extern std::string locatePhrase;

// The search phrase carried by a heard "locate" phrase: without the keyword
// and its space, and without the recogniser's trailing space.
std::string LocatePhraseFrom(const std::string& phrase);
// Shows the phrase, waits for yes or no; on yes searches. True when the
// phrase was found (jumpTarget then holds its paragraph).
bool LocateDialog();
// Searches paragraphs 0 to the last for locatePhrase, ignoring case. True
// when found; an empty phrase is never searched for.
bool SearchBook();

} // namespace tutor
