#pragma once
#include <string>

namespace tutor {

// The paragraph a "chapter" phrase asks for: characters 9 to 11 of the
// phrase read as a decimal number after leading spaces; 0 when none.
long double ChapterNumber(const std::string& phrase);

// Start-up and the lesson loop. Returns only after a book failure report.
void RunTutor();

} // namespace tutor
