#pragma once
#include <string>

namespace tutor {

extern std::string announcement;

// The title line of the idle status screen: one character wider than an
// 80-column row.
extern const char kIdleTitle[];

// Clears the screen, shows the position line and hands the announcement and
// the paragraph to Say.
void PresentParagraph();
// The idle status screen after the last paragraph; never returns.
[[noreturn]] void ShowIdleStatus();
// The spoken text for a paragraph: its announcement (paragraphs of more
// than 10 characters only), one space, the paragraph.
std::string AnnouncementFor(long double paragraph, const std::string& text);

} // namespace tutor
