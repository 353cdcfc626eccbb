#pragma once
#include <string>

namespace tutor {

// Longest book the tutor reads; bytes beyond are never read.
constexpr std::size_t kBookReadLimit = 200000;

// The book's bytes, at most kBookReadLimit of them; empty when the file is
// missing or unreadable. A missing book is not created.
std::string LoadBookText();
// Sets textValid when all six position-class sums match the shipped book.
void CheckBookIntegrity(const std::string& text);
// Fills paragraphs: one entry per line, LF, FF and TAB removed.
void BuildParagraphs(const std::string& text);
// Fills paragraphWords and lastWordIndex for paragraphs 1 to the last.
void BuildParagraphWords();

} // namespace tutor
