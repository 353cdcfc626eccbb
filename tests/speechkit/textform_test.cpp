// The component's own text helpers: the delivered text form, the words of
// the numbers its Windows grammar offers, and how an overlong text is cut.
#include "speechkit/simulation.h"
#include "speechkit/textform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(TextForm, EveryWordIsFollowedByOneSpace) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"chapter 12", "chapter 12 "},
        {"  Exit   program\r\n", "exit program "},
        {"Locate harbour walls.", "locate harbour walls "},
        {"yes", "yes "},
        {"", ""},
        {" . ", ""},
        {"no, thanks!", "no thanks "},
        {"O'Brien's boat", "o'brien's boat "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(speechkit::textForm(c.in), c.out) << c.in;
}

TEST(TextForm, NumbersAreSpokenAsTheyAreSaid) {
    const struct {
        int value;
        const char* plain;
        const char* withAnd;
    } cases[] = {
        {0, "zero", "zero"},
        {7, "seven", "seven"},
        {13, "thirteen", "thirteen"},
        {40, "forty", "forty"},
        {99, "ninety nine", "ninety nine"},
        {100, "one hundred", "one hundred"},
        {112, "one hundred twelve", "one hundred and twelve"},
        {560, "five hundred sixty", "five hundred and sixty"},
        {999, "nine hundred ninety nine", "nine hundred and ninety nine"},
        {1000, "", ""},
        {-1, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(speechkit::numberWords(c.value, false), c.plain) << c.value;
        EXPECT_EQ(speechkit::numberWords(c.value, true), c.withAnd) << c.value;
    }
}

TEST(SpeakableText, AnOverlongTextIsCutBetweenWords) {
    EXPECT_EQ(speechkit::speakableText("short"), "short");
    std::string words;
    while (words.size() < 70000)
        words += "walls ";
    const std::string cut = speechkit::speakableText(words);
    EXPECT_LE(cut.size(), speechkit::kMaxSpokenBytes);
    EXPECT_GT(cut.size(), speechkit::kMaxSpokenBytes - 10);
    EXPECT_EQ(cut.substr(cut.size() - 5), "walls");
    // One enormous word of two-byte characters: never split inside one.
    std::string accents;
    while (accents.size() < 20001)
        accents += "\xc3\xa9";
    const std::string cutAccents = speechkit::speakableText(accents);
    EXPECT_LE(cutAccents.size(), speechkit::kMaxSpokenBytes);
    EXPECT_EQ(cutAccents.size() % 2, 0u);
}

TEST(SentencePieces, LongTextsArePlayedInPiecesOfWholeSentences) {
    using speechkit::sentencePieces;
    EXPECT_TRUE(sentencePieces("", 600).empty());
    EXPECT_EQ(sentencePieces("One.  Two.", 600), std::vector<std::string>{"One.  Two."});
    const std::vector<std::string> split = sentencePieces("One two.  Three four.  Five.", 13);
    EXPECT_EQ(split, (std::vector<std::string>{"One two.", "  Three four.", "  Five."}));
    // No sentence end: between words; no space either: at the limit, but
    // not inside a two-byte character.
    EXPECT_EQ(sentencePieces("aaa bbb ccc", 6), (std::vector<std::string>{"aaa", " bbb", " ccc"}));
    const std::vector<std::string> accents = sentencePieces("\xc3\xa9\xc3\xa9\xc3\xa9", 3);
    EXPECT_EQ(accents, (std::vector<std::string>{"\xc3\xa9\xc3\xa9", "\xc3\xa9"}));
    std::string book;
    while (book.size() < 10000)
        book += "The harbour walls stand.  They are old. ";
    std::string joined;
    for (const std::string& piece : sentencePieces(book, 600)) {
        EXPECT_LE(piece.size(), 600u);
        joined += piece;
    }
    EXPECT_EQ(joined, book);
}

} // namespace
