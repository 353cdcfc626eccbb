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
    // Held by the tutor while it writes: deleting it now would lose the
    // request, so leave it for the next look.
    if (!platform::exchangeRead(speakPath, common::kExchangeReadLimit, content))
        return std::string();
    if (content.empty()) {
        if (emptySpeakSeen) platform::deleteFile(speakPath);
        emptySpeakSeen = !emptySpeakSeen;
        return std::string();
    }
    emptySpeakSeen = false;
    // A repeat (the same text stamped in the same second) is taken away
    // unspoken, so the tutor's next request is not held up behind it.
    if (content == lastSpeakContent) {
        platform::deleteFile(speakPath);
        return std::string();
    }
    lastSpeakContent = content;
    platform::deleteFile(speakPath);
    return common::recordText(common::shiftUp(content));
}

} // namespace listener
