#include "commands.h"

#include "../common/exchangerecord.h"
#include "../platform/platform.h"
#include "exchange.h"
#include "state.h"

namespace tutor {

namespace {
struct Keyword {
    const char* text;
    unsigned char code;
};
// Test order; a later match overrides an earlier one.
const Keyword kKeywords[] = {
    {"locate", kCodeLocate},     {"continue", kCodeContinue},
    {"exit program", kCodeExit}, {"result", kCodeResult},
    {"chapter", kCodeChapter},   {"help", kCodeHelp},
    {"yes ", kCodeYes},          {"no ", kCodeNo},
};
} // namespace

unsigned char CommandForPhrase(const std::string& phrase) {
    unsigned char code = kCodeNone;
    for (const Keyword& k : kKeywords)
        if (phrase.find(k.text) != std::string::npos) code = k.code;
    return code;
}

void HandleHeardMessage(const std::string& message) {
    const std::string phrase = common::recordText(message);
    heardPhrase.set(phrase);
    platform::consolePrintAtKeepCursor(1, 1, padCut(phrase, 79));
    // The phrase is stored before the code, so whoever acts on the code
    // finds its phrase.
    const unsigned char code = CommandForPhrase(phrase);
    if (code != kCodeNone) commandCode.store(code);
}

void CommandReader() {
    std::string previousMessage;
    for (;;) {
        std::string message = heardMessage.get();
        while (message == previousMessage) {
            ReadHeardFile();
            platform::sleepMs(600);
            message = heardMessage.get();
        }
        TakeHeardFile(message);
        previousMessage = message;
        HandleHeardMessage(message);
        platform::sleepMs(500);
    }
}

} // namespace tutor
