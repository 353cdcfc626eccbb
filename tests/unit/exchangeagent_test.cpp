#include "../../common/exchangerecord.h"
#include "../../listener/exchangeagent.h"
#include "../../platform/platform.h"
#include "heldfile.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

using namespace listener;

class ExchangeAgent : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = testutil::scratchDir("agent");
        speakPath = testutil::join(dir, "speak.txt");
        heardPath = testutil::join(dir, "heard.txt");
        lastSpeakContent.clear();
        emptySpeakSeen = false;
    }
    // A request as the tutor stores it: the record shifted down.
    void request(const std::string& record) {
        testutil::writeAll(speakPath, common::shiftDown(record));
    }
    // heard.txt as the tutor decodes it.
    std::string heard() { return common::shiftDown(testutil::readAll(heardPath)); }
    std::string dir;
};

std::string allByteValues() {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

TEST_F(ExchangeAgent, SpeakFileCases) {
    struct Case {
        const char* name;
        std::string record;             // as the tutor meant it, before the shift
        std::vector<std::string> looks; // what each look returns, in turn
        bool presentAfter;              // speak.txt still there after the last look
    };
    const std::string longText(70000 - 8, 'w');
    const std::vector<Case> cases = {
        {"one character", "12:00:00A", {"A"}, false},
        {"stamp only, 8 bytes", "12:00:00", {""}, false},
        {"shorter than a stamp", "12:0", {""}, false},
        {"stamp not looked at", "xxxxxxxxHello", {"Hello"}, false},
        {"every byte value", "23:59:59" + allByteValues(), {allByteValues()}, false},
        {"70,000 bytes: the first 65,536 read",
         "12:00:00" + longText,
         {longText.substr(0, 65536 - 8)},
         false},
        // An empty file is what the tutor leaves for an instant while it
        // writes: left alone at the first look, removed when still empty.
        {"empty file", "", {"", ""}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lastSpeakContent.clear();
        emptySpeakSeen = false;
        request(c.record);
        for (std::size_t i = 0; i < c.looks.size(); ++i) {
            EXPECT_EQ(CheckSpeakFile(), c.looks[i]) << "look " << i;
            if (i + 1 < c.looks.size()) {
                EXPECT_TRUE(platform::fileExists(speakPath));
            }
        }
        EXPECT_EQ(platform::fileExists(speakPath), c.presentAfter);
        platform::deleteFile(speakPath);
    }
}

TEST_F(ExchangeAgent, NoFileMeansNothingToSayAndNothingCreated) {
    EXPECT_EQ(CheckSpeakFile(), "");
    EXPECT_FALSE(platform::fileExists(speakPath));
    EXPECT_FALSE(platform::fileExists(heardPath));
}

TEST_F(ExchangeAgent, ARepeatIsDeletedUnspokenAndTheNextRequestSpoken) {
    request("10:00:00Say it once.");
    EXPECT_EQ(CheckSpeakFile(), "Say it once.");
    request("10:00:00Say it once."); // the same text within the same second
    EXPECT_EQ(CheckSpeakFile(), "");
    EXPECT_FALSE(platform::fileExists(speakPath)) << "a repeat must not block the channel";
    request("10:00:01Say it once."); // a second later it is a new request
    EXPECT_EQ(CheckSpeakFile(), "Say it once.");
}

TEST_F(ExchangeAgent, AHeldRequestIsLeftForTheNextLook) {
    request("10:00:00Wait for me.");
    {
        testutil::HeldFile tutor(speakPath);
        ASSERT_TRUE(tutor.held());
        EXPECT_EQ(CheckSpeakFile(), "");
        EXPECT_TRUE(platform::fileExists(speakPath)) << "deleted while the tutor held it";
    }
    EXPECT_EQ(CheckSpeakFile(), "Wait for me.");
    EXPECT_FALSE(platform::fileExists(speakPath));
}

TEST_F(ExchangeAgent, MissingInstallDirectoryIsHarmless) {
    speakPath = testutil::join(testutil::join(dir, "gone"), "speak.txt");
    heardPath = testutil::join(testutil::join(dir, "gone"), "heard.txt");
    EXPECT_EQ(CheckSpeakFile(), "");
    WriteHeardFile("chapter 12 ");
    EXPECT_FALSE(platform::fileExists(heardPath));
}

bool isStamp(const std::string& s) {
    if (s.size() != 8 || s[2] != ':' || s[5] != ':') return false;
    for (std::size_t i : {0u, 1u, 3u, 4u, 6u, 7u})
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

TEST_F(ExchangeAgent, HeardFileRecords) {
    const std::vector<std::string> phrases = {"chapter 12 ", "", "caf\xe9 ", allByteValues()};
    for (const std::string& phrase : phrases) {
        SCOPED_TRACE(phrase);
        WriteHeardFile(phrase);
        const std::string record = heard();
        ASSERT_EQ(record.size(), 8 + phrase.size());
        EXPECT_TRUE(isStamp(record.substr(0, 8))) << record.substr(0, 8);
        EXPECT_EQ(record.substr(8), phrase);
    }
}

TEST_F(ExchangeAgent, HeardFileIsWrittenWhole) {
    // An unread longer record leaves no tail behind a shorter one.
    WriteHeardFile("a long phrase that nobody has read yet ");
    WriteHeardFile("yes ");
    EXPECT_EQ(heard().substr(8), "yes ");
}

TEST_F(ExchangeAgent, HeldHeardFileLosesThePhraseWithoutHanging) {
    WriteHeardFile("first ");
    {
        testutil::HeldFile tutor(heardPath);
        ASSERT_TRUE(tutor.held());
        WriteHeardFile("second ");
    }
    EXPECT_EQ(heard().substr(8), "first ");
}

} // namespace
