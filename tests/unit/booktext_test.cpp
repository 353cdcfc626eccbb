#include "../../platform/platform.h"
#include "../../tutor/booktext.h"
#include "../../tutor/state.h"
#include "bookconstants.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

using namespace tutor;

class BookText : public ::testing::Test {
  protected:
    void SetUp() override {
        AllocateSmallTables();
        AllocateBookTables();
    }
};

TEST_F(BookText, ParagraphSplits) {
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> expected; // entries 0.. in order
    } cases[] = {
        {"crlf lines",
         "Title\r\n\r\n1. One\r\n\tText here.\r\n",
         {"Title", "", "1. One", "Text here.", ""}},
        {"lone LF and FF are removed", "ab\ncd\r\nx\fy\r\n", {"abcd", "xy", ""}},
        {"lone CR splits", "ab\rcd\r\n", {"ab", "cd", ""}},
        {"tabs anywhere removed", "\ta\tb\t\r\n", {"ab", ""}},
        {"no final line end", "only", {"only"}},
    };
    for (const auto& c : cases) {
        AllocateBookTables();
        BuildParagraphs(c.text);
        for (std::size_t k = 0; k < c.expected.size(); ++k)
            EXPECT_EQ(paragraphs[k], c.expected[k]) << c.name << " entry " << k;
        EXPECT_EQ(paragraphs[c.expected.size()], "") << c.name;
    }
}

TEST_F(BookText, MoreLinesThanTheTableStopsSafely) {
    BuildParagraphs(std::string(100005, '\r') + "tail");
    EXPECT_EQ(paragraphs[100000], "");
}

TEST_F(BookText, WordSplits) {
    const struct {
        std::string paragraph;
        long last;
        std::vector<std::string> words;
    } cases[] = {
        {"The harbour.  Ships came.", 4, {"The", "harbour.", "", "Ships", "came."}},
        {"ends with space ", 3, {"ends", "with", "space", ""}},
        {" leading", 1, {"", "leading"}},
        {"", 0, {""}},
        {"one", 0, {"one"}},
    };
    ASSERT_GE(kLastParagraph, static_cast<int>(std::size(cases)));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        paragraphs[i + 1] = cases[i].paragraph;
    BuildParagraphWords();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const long double p = static_cast<long double>(i + 1);
        EXPECT_EQ(lastWordIndex[i + 1], cases[i].last) << cases[i].paragraph;
        for (std::size_t w = 0; w < cases[i].words.size(); ++w)
            EXPECT_EQ(paragraphWords.at(p, w), cases[i].words[w]) << cases[i].paragraph;
    }
    // Slots that nothing filled, and indices out of range, read empty.
    EXPECT_EQ(paragraphWords.at(3000, 5000), "");
    EXPECT_EQ(paragraphWords.at(1, 4999), "");
    EXPECT_EQ(paragraphWords.at(-1, 0), "");
    EXPECT_EQ(paragraphWords.at(3001, 0), "");
    EXPECT_EQ(lastWordIndex[0], 0); // the title is not split
}

TEST_F(BookText, WordIndexStopsAt5000) {
    paragraphs[1] = std::string(6000, ' ') + "x";
    BuildParagraphWords();
    EXPECT_EQ(lastWordIndex[1], 5000);
}

TEST_F(BookText, TheShippedBookPassesAndEveryFlippedByteFails) {
    const std::string book = testutil::readAll(VERDEL_SOURCE_BOOK);
    ASSERT_FALSE(book.empty());
    CheckBookIntegrity(book);
    EXPECT_TRUE(textValid);
    for (std::size_t pos : {std::size_t(0), std::size_t(1), book.size() / 2, book.size() - 1}) {
        std::string altered = book;
        altered[pos] = static_cast<char>(altered[pos] ^ 0x20);
        CheckBookIntegrity(altered);
        EXPECT_FALSE(textValid) << "byte " << pos;
    }
    CheckBookIntegrity(book + " ");
    EXPECT_FALSE(textValid);
    CheckBookIntegrity("");
    EXPECT_FALSE(textValid);
}

TEST_F(BookText, TheShippedBookSplitsAsItsLines) {
    const std::string book = testutil::readAll(VERDEL_SOURCE_BOOK);
    BuildParagraphs(book);
    BuildParagraphWords();
    EXPECT_EQ(paragraphs[1], "");
    EXPECT_EQ(paragraphs[2].substr(0, 3), "1. ");
    EXPECT_FALSE(paragraphs[kLastParagraph].empty());
    EXPECT_EQ(paragraphs[kLastParagraph + 1], "");
    EXPECT_GT(lastWordIndex[kLastParagraph], 0);
}

TEST_F(BookText, LoadReadsAtMostTheLimitAndNeverCreates) {
    const std::string dir = testutil::scratchDir("book");
    bookPath = testutil::join(dir, "orvane.txt");
    EXPECT_EQ(LoadBookText(), "");
    EXPECT_FALSE(platform::fileExists(bookPath)) << "a missing book must not be created";

    testutil::writeAll(bookPath, std::string(kBookReadLimit, 'a'));
    EXPECT_EQ(LoadBookText().size(), kBookReadLimit);
    testutil::writeAll(bookPath, std::string(kBookReadLimit + 1, 'a'));
    EXPECT_EQ(LoadBookText().size(), kBookReadLimit);

    // A directory in the book's place reads as missing.
    platform::deleteFile(bookPath);
    platform::createDirectory(bookPath);
    EXPECT_EQ(LoadBookText(), "");
}

} // namespace
