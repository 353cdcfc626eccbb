#include "lesson.h"

#include "../platform/platform.h"
#include "bookconstants.h"
#include "booktext.h"
#include "commands.h"
#include "exchange.h"
#include "locate.h"
#include "practice.h"
#include "presentation.h"
#include "state.h"

namespace tutor {

namespace {

void print(const std::string& line) {
    platform::consolePrint(line, true);
}

// Resets the code only if it still holds the one acted on, so a command the
// reader stored meanwhile is not wiped out.
void consumeCode(unsigned char code) {
    unsigned char expected = code;
    commandCode.compare_exchange_strong(expected, kCodeNone);
}

// The end of a book failure report: the message, time to read it, the
// reason, a little more time; then the tutor ends.
void reportBookFailure(const std::string& message, const std::string& reason) {
    print(message);
    platform::sleepMs(10000);
    print(reason);
    platform::sleepMs(5000);
}

void startListeningWindow() {
    const std::string path = listenerPath;
    platform::startThread([path] { platform::startProgram(path, true); }, 256 * 1024);
}

void runParagraphLoop() {
    for (currentParagraph = 0; currentParagraph <= kLastParagraph; ++currentParagraph) {
        PresentParagraph();
        TypingPractice();
        const unsigned char code = commandCode.load();
        if (code == kCodeExit) platform::exitProcess(0);
        if (code == kCodeChapter) {
            consumeCode(kCodeChapter);
            currentParagraph =
                ParagraphBeforeChapter(CommandPhrase(kCodeChapter), currentParagraph);
        }
        if (code == kCodeLocate) {
            consumeCode(kCodeLocate);
            // Declined or not found: the lesson simply goes on with the next
            // paragraph.
            if (LocateDialog()) currentParagraph = jumpTarget - 1;
        }
    }
}

} // namespace

long double ChapterNumber(const std::string& phrase) {
    const std::string digits = phrase.size() > 8 ? phrase.substr(8, 3) : std::string();
    std::size_t i = 0;
    while (i < digits.size() && digits[i] == ' ')
        ++i;
    bool negative = false;
    if (i < digits.size() && (digits[i] == '-' || digits[i] == '+')) negative = digits[i++] == '-';
    long double value = 0;
    for (; i < digits.size() && digits[i] >= '0' && digits[i] <= '9'; ++i)
        value = value * 10 + (digits[i] - '0');
    return negative ? -value : value;
}

long double ParagraphBeforeChapter(const std::string& phrase, long double current) {
    jumpTarget = ChapterNumber(phrase);
    if (jumpTarget > 0 && jumpTarget < kLastParagraph) return jumpTarget - 1;
    return current;
}

void RunTutor() {
    AllocateSmallTables();
    print("");
    print("Loading Verdel Typing Tutor v1.00");
    AllocateBookTables();
    lineWidth = 79;
    SetFilePaths();
    print("Opening text...");
    std::string text = LoadBookText();
    if (text.empty()) {
        print("Missing text, Orvane.");
        reportBookFailure("Program cannot run without this text!  Contact support at 800-555-0100.",
                          "Reason: Orvane (text) is missing!");
        return;
    }
    print("Checking text for tampering...");
    CheckBookIntegrity(text);
    if (!textValid) {
        reportBookFailure("Invalid source text!  Contact support at 800-555-0100.",
                          "Reason for error: Orvane (text) has been modified without permission.");
        return;
    }
    print("Valid text, Orvane");
    platform::deleteFile(speakPath);
    ProbeListener();
    if (listenerAbsent) {
        print("Starting Speech Component...");
        startListeningWindow();
    } else {
        print("Speech Component Already running!");
    }
    platform::deleteFile(speakPath);
    platform::deleteFile(heardPath);
    heardMessage.set(std::string());
    platform::startThread(CommandReader, 1024 * 1024);
    speakText = "Loading verdel typing tutor application";
    Say();
    BuildParagraphs(text);
    BuildParagraphWords();
    std::string().swap(text); // the tables hold the book from here on
    platform::sleepMs(2000);
    runParagraphLoop();
    print("");
    heardMessage.set(std::string());
    ShowIdleStatus();
}

} // namespace tutor
