#include "locate.h"

#include "../common/codepage.h"
#include "../common/numbertext.h"
#include "../platform/platform.h"
#include "bookconstants.h"
#include "state.h"

namespace tutor {

std::string locatePhrase;

std::string LocatePhraseFrom(const std::string& phrase) {
    // Shorter than the keyword and its space: nothing to search for.
    if (phrase.size() <= 7) return std::string();
    std::string rest = phrase.substr(7);
    rest.pop_back();
    return rest;
}

bool LocateDialog() {
    locatePhrase = LocatePhraseFrom(CommandPhrase(kCodeLocate));
    platform::consoleGoto(2, 1);
    platform::consolePrint("Finding: \"" + locatePhrase + "\"    -- is this correct?", true);
    unsigned char code = commandCode.load();
    while (code != kCodeYes && code != kCodeNo) {
        platform::sleepMs(150);
        code = commandCode.load();
    }
    return code == kCodeYes && SearchBook();
}

bool SearchBook() {
    if (locatePhrase.empty()) return false;
    const std::string wanted = common::upperCp1252(locatePhrase);
    for (long i = 0; i <= kLastParagraph; ++i) {
        if (common::upperCp1252(paragraphs[static_cast<std::size_t>(i)]).find(wanted) !=
            std::string::npos) {
            jumpTarget = i;
            platform::consolePrint("Found @ " + common::numberText(i), true);
            platform::sleepMs(2000);
            return true;
        }
        platform::consolePrint(".", false);
    }
    return false;
}

} // namespace tutor
