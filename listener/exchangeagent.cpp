#include "exchangeagent.h"

#include "../common/exchangerecord.h"
#include "../platform/installdir.h"
#include "../platform/platform.h"

namespace listener {

std::string speakPath;
std::string heardPath;
std::string lastSpeakContent;
bool emptySpeakSeen = false;

void SetExchangePaths() {
    speakPath = platform::installPath("speak.txt");
    heardPath = platform::installPath("heard.txt");
}

void WriteHeardFile(const std::string& phrase) {
    // Written whole: no tail of an older, longer record can survive.
    platform::exchangeWrite(heardPath, common::shiftUp(platform::localTimeStamp() + phrase));
}

std::string CheckSpeakFile() {
    if (!platform::fileExists(speakPath)) {
        emptySpeakSeen = false;
        return std::string();
    }
    std::string content;
    // Taken while held: a request the tutor writes after this look goes into
    // a new file, never into the one being deleted. Held by the tutor while
    // it writes: left for the next look. An empty file (the tutor between
    // creating and filling it) is deleted only when the look before saw it
    // empty too.
    if (!platform::exchangeTake(speakPath, common::kExchangeReadLimit, content, emptySpeakSeen))
        return std::string();
    if (content.empty()) {
        emptySpeakSeen = !emptySpeakSeen;
        return std::string();
    }
    emptySpeakSeen = false;
    // A repeat (the same text stamped in the same second) is taken away
    // unspoken, so the tutor's next request is not held up behind it.
    if (content == lastSpeakContent) return std::string();
    lastSpeakContent = content;
    return common::recordText(common::shiftUp(content));
}

} // namespace listener
