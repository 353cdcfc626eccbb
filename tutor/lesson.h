#pragma once
#include <string>

namespace tutor {

// The paragraph a "chapter" phrase asks for: characters 9 to 11 of the
// phrase read as a decimal number after leading spaces; 0 when none.
long double ChapterNumber(const std::string& phrase);

// Where the lesson stands after a "chapter" phrase, before the loop moves on
// by one: the paragraph before the one asked for, or current when the number
// is not a paragraph after the title and before the last. Sets jumpTarget.
long double ParagraphBeforeChapter(const std::string& phrase, long double current);

// Start-up and the lesson loop. Returns only after a book failure report.
void RunTutor();

} // namespace tutor
