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

std::string storedRecord(const std::string& text) {
    return common::shiftDown(platform::localTimeStamp() + text);
}
} // namespace

void Say() {
    if (speakText.empty()) return;
    const std::string stored = storedRecord(speakText);
    if (!listenerStalled) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kSayWaitBoundMs);
        while (platform::fileExists(speakPath) && std::chrono::steady_clock::now() < deadline)
            platform::sleepMs(5);
    }
    listenerStalled = platform::fileExists(speakPath);
    platform::exchangeWrite(speakPath, stored);
}

void ProbeListener() {
    const std::string stored = storedRecord("Hello and welcome.");
    platform::deleteFile(speakPath);
    platform::exchangeWrite(speakPath, stored);
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
