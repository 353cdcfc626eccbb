#include "exchange.h"

#include "../common/exchangerecord.h"
#include "../platform/platform.h"
#include "state.h"

#include <chrono>

namespace tutor {

namespace {
// Set while requests go untaken: Say then does not wait for them again until
// the window takes one.
bool listenerStalled = false;
// The bytes of the last request written. The window does not speak a record
// equal to the last one it took, so the same text said twice within one
// clock second must not come out the same on disk.
std::string lastStored;

std::string storedRecord(const std::string& text) {
    return common::shiftDown(platform::localTimeStamp() + text);
}

// The record stamped now; if that repeats the last request byte for byte,
// waits for the clock to move on to the next second (the window looks only
// once a second anyway, so nothing is spoken later for it).
std::string freshRecord(const std::string& text) {
    std::string stored = storedRecord(text);
    for (int waited = 0; stored == lastStored && waited < 1100; waited += 5) {
        platform::sleepMs(5);
        stored = storedRecord(text);
    }
    return stored;
}
} // namespace

void Say() {
    if (speakText.empty()) return;
    if (!listenerStalled) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kSayWaitBoundMs);
        while (platform::fileExists(speakPath) && std::chrono::steady_clock::now() < deadline)
            platform::sleepMs(5);
    }
    listenerStalled = platform::fileExists(speakPath);
    // Stamped when written, not before the wait: the stamp tells the window
    // a new request from the one it took last.
    const std::string stored = freshRecord(speakText);
    if (platform::exchangeWrite(speakPath, stored)) lastStored = stored;
}

void ProbeListener() {
    const std::string stored = storedRecord("Hello and welcome.");
    platform::deleteFile(speakPath);
    if (platform::exchangeWrite(speakPath, stored)) lastStored = stored;
    for (int check = 0; check < 6; ++check) {
        platform::sleepMs(1000);
        if (!platform::fileExists(speakPath)) {
            listenerAbsent = 0;
            return;
        }
    }
    listenerAbsent = 255;
}

bool ReadHeardFile() {
    std::string stored;
    if (!platform::exchangeRead(heardPath, common::kExchangeReadLimit, stored)) return false;
    heardMessage.set(common::shiftDown(stored));
    return true;
}

void TakeHeardFile(const std::string& message) {
    platform::exchangeTakeIfUnchanged(heardPath, common::shiftUp(message),
                                      common::kExchangeReadLimit);
}

} // namespace tutor
