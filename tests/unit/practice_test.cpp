#include "../../tutor/booktext.h"
#include "../../tutor/practice.h"
#include "../../tutor/state.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace tutor;

// Runs keys against one word the way practice does: a fresh word first
// processes the space left over from the previous word.
struct Typed {
    std::vector<std::string> marks; // the feedback line after each key
    std::string typedText;
    std::string markLine;
    bool complete = false;
    std::size_t keysUsed = 0;
};

Typed typeWord(const std::string& wordText, const std::vector<std::string>& keys) {
    WordAttempt word;
    word.expectedText = wordText + " ";
    Typed out;
    std::vector<std::string> all{" "};
    all.insert(all.end(), keys.begin(), keys.end());
    for (const std::string& key : all) {
        const KeystrokeResult r = ApplyKeystroke(word, key, 0.5L);
        out.marks.push_back(r.markString);
        ++out.keysUsed;
        if (r.complete) {
            out.complete = true;
            break;
        }
        if (word.typedText == " ") word.typedText.clear();
    }
    out.typedText = word.typedText;
    out.markLine = word.markLine;
    return out;
}

class Practice : public ::testing::Test {
  protected:
    void SetUp() override { AllocateSmallTables(); }
};

TEST_F(Practice, WorkedExamples) {
    const std::string kDown = std::string(1, '\0') + static_cast<char>(80);
    const struct {
        const char* name;
        std::string word;
        std::vector<std::string> keys;
        std::vector<std::string> marks; // after the leading space
        std::string typed;
        bool complete;
    } cases[] = {
        {"right", "the", {"t", "h", "e", " "}, {"_", "__", "___", "____"}, "the ", true},
        {"wrong case", "the", {"T", "H", "E", " "}, {"^", "^^", "^^^", "^^^_"}, "THE ", true},
        {"one missing", "the", {"t", "e", " "}, {"_", "_", "__1_"}, "the ", true},
        {"extra", "the", {"t", "h", "h", "e", " "}, {"_", "__", "__", "_0_", "_0__"}, "the ", true},
        {"two missing", "there", {"t", "r"}, {"_", "_"}, "ther", false},
        {"wrong", "the", {"x"}, {"X"}, "x", false},
        {"backspace on empty", "the", {"\b", "\b"}, {"", ""}, "", false},
        {"backspace", "the", {"t", "x", "\b", "h"}, {"_", "_X", "_", "__"}, "th", false},
        {"arrow key is wrong", "the", {kDown}, {"XX"}, kDown, false},
        {"past the end",
         "the",
         {"t", "h", "e", "x", "y"},
         {"_", "__", "___", "___X", "___XX"},
         "thexy",
         true},
        {"empty word", "", {}, {}, " ", true},
    };
    for (const auto& c : cases) {
        const Typed t = typeWord(c.word, c.keys);
        std::vector<std::string> marks(t.marks.begin() + 1, t.marks.end());
        EXPECT_EQ(t.marks[0], "") << c.name << ": the leading space shows no mark";
        EXPECT_EQ(marks, c.marks) << c.name;
        EXPECT_EQ(t.typedText, c.typed) << c.name;
        EXPECT_EQ(t.complete, c.complete) << c.name;
    }
}

TEST_F(Practice, RepairDigitsStayInTheMarkLine) {
    EXPECT_EQ(typeWord("the", {"t", "e"}).markLine.substr(0, 4), "  1 ");
    EXPECT_EQ(typeWord("the", {"t", "h", "h"}).markLine.substr(0, 4), " 0  ");
    EXPECT_EQ(typeWord("there", {"t", "r"}).markLine.substr(0, 4), "  2 ");
    EXPECT_EQ(typeWord("the", {"t", "e"}).markLine.size(), 80u);
}

TEST_F(Practice, StatisticsPerKeyCharacter) {
    typeWord("the", {"t", "h", "e", " "});
    // Each key counts once per position evaluated after it.
    EXPECT_EQ(charAttempts['t'], 1);
    EXPECT_EQ(charAttempts['h'], 2);
    EXPECT_EQ(charAttempts['e'], 3);
    EXPECT_EQ(charAttempts[' '], 1 + 4); // the leading space, then the final one
    EXPECT_EQ(charCorrect['e'], 3);
    EXPECT_EQ(charCorrect[' '], 4); // the leading space alone is never "right"
    EXPECT_EQ(charSeconds['h'], 2 * 0.5L);

    typeWord("the", {"T"});
    EXPECT_EQ(charAttempts['T'], 1);
    EXPECT_EQ(charCorrect['T'], 0);
    // Keys without a character code count under code 0.
    typeWord("a", {std::string(1, '\0') + 'K'});
    EXPECT_EQ(charAttempts[0], 2);
}

TEST_F(Practice, PastedBurstNeverGrowsBeyondTheWord) {
    WordAttempt word;
    word.expectedText = "harbour ";
    std::size_t longest = 0;
    for (int i = 0; i < 200; ++i) {
        const KeystrokeResult r = ApplyKeystroke(word, std::string(1, 'a' + i % 26), 0.01L);
        longest = std::max(longest, word.typedText.size());
        if (r.complete) {
            word = WordAttempt();
            word.expectedText = "harbour ";
        }
    }
    EXPECT_LE(longest, word.expectedText.size() + 1);
}

TEST_F(Practice, UpcomingWordsFitIn79Columns) {
    AllocateBookTables();
    paragraphs[1] = "alpha beta  gamma";
    paragraphs[2] = std::string(50, 'a') + " " + std::string(30, 'b') + " c";
    paragraphs[3] = std::string(90, 'z') + " next";
    BuildParagraphWords();
    const struct {
        long double paragraph, w, lastBefore;
        std::string line;
        long double lastAfter;
    } cases[] = {
        {1, 0, 0, " alpha beta  gamma", 3},
        {1, 2, 3, "  gamma", 3},
        {2, 0, 0, " " + std::string(50, 'a'), 0},
        {2, 1, 0, " " + std::string(30, 'b') + " c", 2},
        // Even word w does not fit: the previous last fitting word stays.
        {3, 0, 0, " " + std::string(90, 'z'), 0},
        {3, 1, 0, " next", 1},
    };
    for (const auto& c : cases) {
        long double last = c.lastBefore;
        EXPECT_EQ(UpcomingLine(c.paragraph, c.w, last), c.line) << c.paragraph << "/" << c.w;
        EXPECT_EQ(last, c.lastAfter) << c.paragraph << "/" << c.w;
    }
}

TEST_F(Practice, ResultCells) {
    charAttempts['a'] = 3;
    charCorrect['a'] = 2;
    charSeconds['a'] = 1.5L;
    charAttempts['b'] = 4;
    charCorrect['b'] = 0;
    charSeconds['b'] = 0; // typed, but never timed
    charAttempts['c'] = 10;
    charCorrect['c'] = 10;
    charSeconds['c'] = 4;
    EXPECT_EQ(ResultCell('a'), "a 24  66.6%");
    EXPECT_EQ(ResultCell('b'), "b ? ?");
    EXPECT_EQ(ResultCell('c'), "c 30  100%");
    EXPECT_EQ(ResultCell('d'), "d ? ?"); // no attempts at all
}

} // namespace
