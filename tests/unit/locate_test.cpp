#include "../../tutor/locate.h"
#include "../../tutor/state.h"

#include <gtest/gtest.h>

namespace {

using namespace tutor;

TEST(Locate, PhraseFromHeardText) {
    const struct {
        const char* heard;
        const char* phrase;
    } cases[] = {
        {"locate oligarchy ", "oligarchy"},
        {"locate the salt fair ", "the salt fair"},
        {"locate ", ""},
        {"locate", ""},
        {"loc", ""},
        {"", ""},
        {"locate x", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LocatePhraseFrom(c.heard), c.phrase) << c.heard;
}

class Search : public ::testing::Test {
  protected:
    void SetUp() override {
        AllocateBookTables();
        paragraphs[0] = "Orvane";
        paragraphs[3] = "The Council of Forty ruled.";
        paragraphs[5] = "THE OLIGARCHY OF MERCHANTS";
        paragraphs[7] = "the oligarchy again";
        jumpTarget = 42;
    }
};

TEST_F(Search, FirstMatchIgnoringCase) {
    locatePhrase = "oligarchy";
    EXPECT_TRUE(SearchBook());
    EXPECT_EQ(jumpTarget, 5);
    locatePhrase = "COUNCIL of forty";
    EXPECT_TRUE(SearchBook());
    EXPECT_EQ(jumpTarget, 3);
}

TEST_F(Search, NotFoundOrEmptyLeavesTheTarget) {
    for (const char* phrase : {"nowhere at all", "Council  of", ""}) {
        locatePhrase = phrase;
        EXPECT_FALSE(SearchBook()) << phrase;
        EXPECT_EQ(jumpTarget, 42) << phrase;
    }
}

} // namespace
