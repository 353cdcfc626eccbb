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
    // A message without a keyword (the empty one after every phrase among
    // them) leaves the pending command and its phrase alone.
    const unsigned char code = CommandForPhrase(phrase);
    if (code != kCodeNone) SetCommand(code, phrase);
}

void CommandReader() {
    const std::atomic<bool> never{false};
    CommandReaderUntil(never);
}

void CommandReaderUntil(const std::atomic<bool>& stop) {
    std::string previousMessage;
    while (!stop.load()) {
        std::string message = heardMessage.get();
        while (message == previousMessage) {
            if (stop.load()) return;
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
