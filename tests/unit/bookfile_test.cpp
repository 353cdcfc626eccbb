// The shipped book's house rules: every learner types this file, so a broken
// line end, a stray tab or one space after a sentence is a real fault.
#include "testutil.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

class BookFile : public ::testing::Test {
  protected:
    void SetUp() override {
        bytes = testutil::readAll(VERDEL_SOURCE_BOOK);
        ASSERT_FALSE(bytes.empty()) << VERDEL_SOURCE_BOOK;
        std::size_t start = 0;
        for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
            if (bytes[i] == '\r' && bytes[i + 1] == '\n') {
                lines.push_back(bytes.substr(start, i - start));
                start = i + 2;
                ++i;
            }
        }
        tail = bytes.substr(start);
    }
    static std::string where(std::size_t line) { return "line " + std::to_string(line) + ": "; }
    static bool isHeading(const std::string& l) {
        std::size_t i = 0;
        while (i < l.size() && l[i] >= '0' && l[i] <= '9')
            ++i;
        return i > 0 && l.compare(i, 2, ". ") == 0 && l.size() > i + 2;
    }
    std::string bytes;
    std::vector<std::string> lines;
    std::string tail; // after the last CR LF: must be nothing
};

TEST_F(BookFile, CharactersAndLineEnds) {
    EXPECT_EQ(tail, "") << "the last line must end with CR LF";
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& l = lines[n];
        for (std::size_t i = 0; i < l.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(l[i]);
            ASSERT_TRUE((c >= 32 && c <= 126) || (c == '\t' && i == 0))
                << where(n) << "byte " << static_cast<int>(c) << " at column " << i + 1
                << " (only printable ASCII, and one TAB opening a paragraph)";
        }
        ASSERT_TRUE(l.empty() || l.back() != ' ') << where(n) << "trailing space";
    }
}

TEST_F(BookFile, Structure) {
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Orvane") << "line 0 is the title";
    EXPECT_EQ(lines[1], "") << "line 1 is empty";
    int chapter = 0;
    for (std::size_t n = 2; n < lines.size(); ++n) {
        const std::string& l = lines[n];
        if (l.empty()) {
            ASSERT_TRUE(n + 1 < lines.size() && isHeading(lines[n + 1]))
                << where(n) << "an empty line stands only before a chapter heading";
            ASSERT_FALSE(lines[n - 1].empty()) << where(n) << "two empty lines";
        } else if (l[0] == '\t') {
            ASSERT_GT(chapter, 0) << where(n) << "paragraph before the first heading";
            ASSERT_TRUE(l.size() > 1 && l[1] != ' ' && l[1] != '\t')
                << where(n) << "paragraph must start with one TAB and then text";
        } else {
            ASSERT_TRUE(isHeading(l)) << where(n) << "neither heading, paragraph nor empty";
            ASSERT_EQ(std::stoi(l), chapter + 1) << where(n) << "chapter numbers in order";
            ++chapter;
            ASSERT_TRUE(n == 2 || lines[n - 1].empty())
                << where(n) << "an empty line must come before a heading";
            ASSERT_TRUE(n + 1 < lines.size() && lines[n + 1][0] == '\t')
                << where(n) << "a heading must be followed by a paragraph";
        }
    }
    EXPECT_GE(chapter, 28);
    EXPECT_LE(chapter, 36);
    EXPECT_GE(lines.size(), 700u);
    EXPECT_LE(lines.size(), 950u);
    EXPECT_GE(bytes.size(), 120000u);
    EXPECT_LE(bytes.size(), 200000u);
    EXPECT_EQ(lines.back()[0], '\t') << "the book ends with a paragraph";
}

TEST_F(BookFile, SpacingAndSentences) {
    std::set<std::string> seen;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& l = lines[n];
        if (l.empty() || l[0] != '\t') continue;
        const std::string p = l.substr(1);
        ASSERT_LE(p.size(), 1200u) << where(n) << "paragraph too long";
        ASSERT_TRUE(seen.insert(p).second) << where(n) << "the same paragraph twice";
        int sentences = 0;
        std::size_t wordLength = 0;
        for (std::size_t i = 0; i < p.size(); ++i) {
            wordLength = p[i] == ' ' ? 0 : wordLength + 1;
            ASSERT_LE(wordLength, 24u) << where(n) << "word too long at column " << i + 2;
            const char c = p[i];
            const bool end = c == '.' || c == '?' || c == '!';
            // A sentence end, with a closing quote after it if there is one.
            if (end) {
                std::size_t j = i + 1;
                if (j < p.size() && p[j] == '"') ++j;
                if (j == p.size()) {
                    ++sentences;
                } else if (p[j] == ' ') {
                    ++sentences;
                    ASSERT_TRUE(j + 1 < p.size() && p[j + 1] == ' ')
                        << where(n) << "one space after a sentence at column " << i + 2 << ": \""
                        << p.substr(i > 20 ? i - 20 : 0, 40) << "\"";
                }
            }
            if (c == ' ' && i + 1 < p.size() && p[i + 1] == ' ') {
                ASSERT_FALSE(i + 2 < p.size() && p[i + 2] == ' ')
                    << where(n) << "three spaces at column " << i + 2;
                const char before = i > 0 ? p[i - 1] : ' ';
                const char before2 = i > 1 ? p[i - 2] : ' ';
                const bool afterEnd =
                    before == '.' || before == '?' || before == '!' ||
                    (before == '"' && (before2 == '.' || before2 == '?' || before2 == '!'));
                ASSERT_TRUE(afterEnd)
                    << where(n) << "two spaces not after a sentence, column " << i + 2 << ": \""
                    << p.substr(i > 20 ? i - 20 : 0, 40) << "\"";
                ++i;
            }
        }
        ASSERT_GE(sentences, 1) << where(n) << "a paragraph is whole sentences";
        ASSERT_LE(sentences, 8) << where(n) << "more than 8 sentences";
    }
}

TEST_F(BookFile, EveryKeyIsPractised) {
    for (char c = 'a'; c <= 'z'; ++c)
        EXPECT_NE(bytes.find(c), std::string::npos) << c;
    for (char c = 'A'; c <= 'Z'; ++c)
        EXPECT_NE(bytes.find(c), std::string::npos) << c;
    for (char c = '0'; c <= '9'; ++c)
        EXPECT_NE(bytes.find(c), std::string::npos) << c;
    for (char c : std::string(",.;:!?'\"()-"))
        EXPECT_NE(bytes.find(c), std::string::npos) << c;
    EXPECT_NE(bytes.find_first_of("%&$/"), std::string::npos);
    // The help page's example must land somewhere.
    EXPECT_NE(bytes.find("oligarchy"), std::string::npos);
}

} // namespace
