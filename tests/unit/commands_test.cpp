#include "../../common/exchangerecord.h"
#include "../../platform/platform.h"
#include "../../tutor/commands.h"
#include "../../tutor/lesson.h"
#include "../../tutor/locate.h"
#include "../../tutor/state.h"
#include "bookconstants.h"
#include "testutil.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace tutor;

TEST(Commands, KeywordTableAndPrecedence) {
    const struct {
        const char* phrase;
        unsigned char code;
    } cases[] = {
        {"locate oligarchy ", kCodeLocate},
        {"continue ", kCodeContinue},
        {"exit program ", kCodeExit},
        {"result ", kCodeResult},
        {"chapter 12 ", kCodeChapter},
        {"help ", kCodeHelp},
        {"yes ", kCodeYes},
        {"no ", kCodeNo},
        {"locate the help page ", kCodeHelp}, // the later test wins
        {"yes no ", kCodeNo},
        {"no yes ", kCodeNo},
        {"exit program help ", kCodeHelp},
        {"results ", kCodeResult}, // substrings count
        {"discontinue ", kCodeContinue},
        {"piano ", kCodeNo},
        {"yes", kCodeNone},   // no trailing space
        {"Help ", kCodeNone}, // case matters
        {"exit ", kCodeNone},
        {"", kCodeNone},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CommandForPhrase(c.phrase), c.code) << '"' << c.phrase << '"';
}

TEST(Commands, AMessageSetsPhraseAndCodeAndAPlainPhraseKeepsBoth) {
    commandCode = kCodeNone;
    HandleHeardMessage("12:00:00chapter 5 ");
    EXPECT_EQ(heardPhrase.get(), "chapter 5 ");
    EXPECT_EQ(commandCode.load(), kCodeChapter);
    HandleHeardMessage("12:00:01good morning ");
    EXPECT_EQ(heardPhrase.get(), "good morning ");
    HandleHeardMessage(""); // the empty message that follows every phrase
    EXPECT_EQ(heardPhrase.get(), "");
    // The command and the phrase it came with survive both, for whoever acts
    // on the code later (the main thread may be busy speaking meanwhile).
    EXPECT_EQ(commandCode.load(), kCodeChapter);
    EXPECT_EQ(CommandPhrase(kCodeChapter), "chapter 5 ");
    EXPECT_EQ(ParagraphBeforeChapter(CommandPhrase(kCodeChapter), 40), 4);

    HandleHeardMessage("12:00:02locate harbour walls ");
    HandleHeardMessage("");
    EXPECT_EQ(commandCode.load(), kCodeLocate);
    EXPECT_EQ(LocatePhraseFrom(CommandPhrase(kCodeLocate)), "harbour walls");
    EXPECT_EQ(CommandPhrase(kCodeChapter), "chapter 5 ") << "each code keeps its own phrase";
    commandCode = kCodeNone;
}

TEST(Commands, ChapterNumberFromCharacters9To11) {
    const struct {
        const char* phrase;
        long double number;
    } cases[] = {
        {"chapter 12 ", 12}, {"chapter 1234 ", 123}, {"chapter 0 ", 0},   {"chapter ", 0},
        {"chapter", 0},      {"chapter    7 ", 0},   {"chapter   7 ", 7}, {"chapter x1 ", 0},
        {"chapter 9x ", 9},  {"chapter 897 ", 897},  {"chapter -5 ", -5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChapterNumber(c.phrase), c.number) << c.phrase;
}

TEST(Commands, ChapterJumpRange) {
    const std::string last = std::to_string(kLastParagraph);
    const struct {
        std::string phrase;
        long double next; // the paragraph the lesson continues with
    } cases[] = {
        {"chapter 12 ", 12},
        {"chapter 1 ", 1},
        {"chapter 0 ", 6},
        {"chapter ", 6},
        {"chapter " + std::to_string(kLastParagraph - 1) + " ", kLastParagraph - 1},
        {"chapter " + last + " ", 6}, // the last paragraph itself is not a target
        {"chapter 950 ", 6},
        {"chapter -3 ", 6},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParagraphBeforeChapter(c.phrase, 5) + 1, c.next) << c.phrase;
        EXPECT_EQ(jumpTarget, ChapterNumber(c.phrase)) << c.phrase;
    }
}

// The reader on its own thread and the main thread acting on what it sets,
// as in the lesson: the window publishes phrases, the main thread waits for
// each code, takes the phrase that came with it and resets the code, while
// both threads write to the console. (Also run under ThreadSanitizer.)
TEST(Commands, TheReaderThreadHandsEachCommandToTheMainThread) {
    const std::string dir = testutil::scratchDir("reader");
    heardPath = testutil::join(dir, "heard.txt");
    heardMessage.set(std::string());
    commandCode = kCodeNone;
    std::atomic<bool> stop{false};
    std::thread reader([&stop] { CommandReaderUntil(stop); });

    const struct {
        const char* phrase;
        unsigned char code;
    } said[] = {
        {"chapter 12 ", kCodeChapter},
        {"help ", kCodeHelp},
        {"locate harbour walls ", kCodeLocate},
        {"chapter 7 ", kCodeChapter}, // the same command again is seen again
    };
    for (const auto& s : said) {
        ASSERT_TRUE(platform::exchangeWrite(
            heardPath, common::shiftUp(platform::localTimeStamp() + s.phrase)));
        // A generous bound, only so that a broken reader cannot hang the run.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (commandCode.load() != s.code && std::chrono::steady_clock::now() < deadline) {
            platform::consolePrint("", false);
            platform::sleepMs(20);
        }
        ASSERT_EQ(commandCode.load(), s.code) << s.phrase;
        EXPECT_EQ(CommandPhrase(s.code), s.phrase);
        unsigned char expected = s.code;
        EXPECT_TRUE(commandCode.compare_exchange_strong(expected, kCodeNone));
    }
    EXPECT_EQ(ParagraphBeforeChapter(CommandPhrase(kCodeChapter), 40), 6);
    EXPECT_EQ(LocatePhraseFrom(CommandPhrase(kCodeLocate)), "harbour walls");

    stop = true;
    reader.join();
    commandCode = kCodeNone;
}

} // namespace
