#include "help.h"

#include "../platform/platform.h"
#include "exchange.h"
#include "state.h"

namespace tutor {

void ShowHelp() {
    helpLines[0] = "to jump to a chapter, say 'chapter' then a number.  Example, 'chapter 18'.";
    helpLines[1] = "to continue on to typing, say 'continue', to resume.  Example, 'continue'.";
    helpLines[2] = "to locate text in the book, say 'locate' then the phrase.  Example, 'locate "
                   "oligarchy'.";
    helpLines[3] = "to request help, say 'help' anytime.  This page will return.  Example, 'help'.";
    helpLines[4] = "to leave this program, say 'exit program' anytime.  You will exit and need to "
                   "click the 'Verdel Listing Window' to fully terminate.";
    helpLines[5] = "Please say 'continue' when you are finished reading this help page.";
    for (int i = 0; i <= 5; ++i) {
        platform::consolePrint(helpLines[static_cast<std::size_t>(i)], true);
        speakText = helpLines[static_cast<std::size_t>(i)];
        Say();
    }
    while (commandCode.load() == kCodeHelp)
        platform::sleepMs(250);
}

} // namespace tutor
