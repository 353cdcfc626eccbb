#include "presentation.h"

#include "../common/numbertext.h"
#include "../platform/platform.h"
#include "exchange.h"
#include "state.h"

#include <cstring>

namespace tutor {

std::string announcement;

const char kIdleTitle[] =
    "Verdel Typing Tutor v1.00 -- you have typed the whole book. Support: 800-555-0100";
static_assert(sizeof kIdleTitle - 1 == 81, "the idle title line is 81 characters");

std::string AnnouncementFor(long double paragraph, const std::string& text) {
    if (text.size() <= 10) return std::string();
    return "The next paragraph is " + common::numberText(paragraph) +
           " Of the text.  It will follow now.";
}

void PresentParagraph() {
    platform::consoleClear();
    platform::consoleGoto(2, 60);
    platform::consolePrint(common::numberText(currentParagraph) + common::numberText(wordOffset),
                           true);
    const long p = indexOf(currentParagraph);
    paragraphText = p >= 0 && p < static_cast<long>(paragraphs.size())
                        ? paragraphs[static_cast<std::size_t>(p)]
                        : std::string();
    announcement = AnnouncementFor(currentParagraph, paragraphText);
    speakText = announcement + " " + paragraphText;
    Say();
}

void ShowIdleStatus() {
    for (;;) {
        platform::consoleGoto(1, 1);
        platform::consolePrint(kIdleTitle, true);
        platform::consolePrint(" Normal  ", false);
        platform::consoleGoto(2, 1);
        platform::consolePrint(std::string(79, ' '), false);
        platform::consoleGoto(4, 1);
        platform::sleepMs(1000);
    }
}

} // namespace tutor
