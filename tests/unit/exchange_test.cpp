#include "../../common/exchangerecord.h"
#include "../../platform/platform.h"
#include "../../tutor/exchange.h"
#include "../../tutor/state.h"
#include "testutil.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace tutor;

class Exchange : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = testutil::scratchDir("exchange");
        speakPath = testutil::join(dir, "speak.txt");
        heardPath = testutil::join(dir, "heard.txt");
    }
    // What the listening window would read: shifted back up, stamp and text.
    std::string spoken() { return common::shiftUp(testutil::readAll(speakPath)); }
    std::string dir;
};

bool isStamp(const std::string& s) {
    if (s.size() != 8 || s[2] != ':' || s[5] != ':') return false;
    for (int i : {0, 1, 3, 4, 6, 7})
        if (s[static_cast<std::size_t>(i)] < '0' || s[static_cast<std::size_t>(i)] > '9')
            return false;
    return true;
}

TEST_F(Exchange, SayWritesStampedShiftedRecord) {
    speakText = "The next paragraph is  12 Of the text.";
    Say();
    const std::string record = spoken();
    ASSERT_GT(record.size(), 8u);
    EXPECT_TRUE(isStamp(record.substr(0, 8))) << record;
    EXPECT_EQ(record.substr(8), speakText);
}

TEST_F(Exchange, SayWithEmptyTextTouchesNothing) {
    speakText.clear();
    Say();
    EXPECT_FALSE(platform::fileExists(speakPath));
}

TEST_F(Exchange, SayWaitsUntilTheRequestIsTaken) {
    speakText = "first";
    Say();
    std::atomic<bool> taken{false};
    std::string takenRecord;
    std::thread window([&] {
        platform::sleepMs(300);
        takenRecord = spoken();
        // Marked before the delete: Say may write and return the moment the
        // file is gone.
        taken = true;
        platform::deleteFile(speakPath);
    });
    speakText = "second";
    Say();
    EXPECT_TRUE(taken.load()) << "Say wrote over a request that was not taken";
    window.join();
    EXPECT_EQ(takenRecord.substr(8), "first");
    EXPECT_EQ(spoken().substr(8), "second");
}

TEST_F(Exchange, TheSameTextTwiceNeverRepeatsOnDisk) {
    // "had had": the window takes each request at once, and the second comes
    // within the same clock second. It does not speak a record equal to the
    // one it took last, so the two must differ.
    speakText = "had";
    Say();
    const std::string first = testutil::readAll(speakPath);
    platform::deleteFile(speakPath);
    Say();
    const std::string second = testutil::readAll(speakPath);
    EXPECT_NE(first, second);
    EXPECT_EQ(common::shiftUp(second).substr(8), "had");
}

TEST_F(Exchange, SayStampsWhenItWrites) {
    speakText = "first";
    Say();
    std::thread window([&] {
        platform::sleepMs(2100); // the window is slow to take the request
        platform::deleteFile(speakPath);
    });
    speakText = "second";
    const std::string before = platform::localTimeStamp();
    Say();
    window.join();
    const std::string stamp = spoken().substr(0, 8);
    EXPECT_NE(stamp, before) << "stamped before waiting for the window";
}

TEST_F(Exchange, SayNeverHangsWithoutAListener) {
    // Nobody takes requests: Say gives up after its bound and replaces the
    // stale request; a shorter text leaves no tail of the longer one.
    speakText = "a rather long request that nobody takes";
    Say();
    speakText = "short";
    Say();
    EXPECT_EQ(spoken().substr(8), "short");
    speakText = "next";
    Say(); // does not wait again while nobody takes requests
    EXPECT_EQ(spoken().substr(8), "next");
    // Once a request is taken, Say waits for the window again.
    platform::deleteFile(speakPath);
    speakText = "taken again";
    Say();
    EXPECT_EQ(spoken().substr(8), "taken again");
}

TEST_F(Exchange, ReadHeardFileDecodes) {
    // A missing file is created empty and reads as an empty message.
    heardMessage.set("old");
    EXPECT_TRUE(ReadHeardFile());
    EXPECT_EQ(heardMessage.get(), "");
    EXPECT_TRUE(platform::fileExists(heardPath));

    testutil::writeAll(heardPath, common::shiftUp("10:00:00chapter 12 "));
    EXPECT_TRUE(ReadHeardFile());
    EXPECT_EQ(heardMessage.get(), "10:00:00chapter 12 ");

    std::string noise;
    for (int i = 0; i < 1000; ++i)
        noise += static_cast<char>((i * 7919) & 0xFF);
    testutil::writeAll(heardPath, noise);
    EXPECT_TRUE(ReadHeardFile());
    EXPECT_EQ(heardMessage.get(), common::shiftDown(noise));

    testutil::writeAll(heardPath, std::string(70000, 'x'));
    EXPECT_TRUE(ReadHeardFile());
    EXPECT_EQ(heardMessage.get().size(), 65536u);
}

TEST_F(Exchange, TakingKeepsAPhraseWrittenAfterTheRead) {
    testutil::writeAll(heardPath, common::shiftUp("10:00:00help "));
    ASSERT_TRUE(ReadHeardFile());
    const std::string read = heardMessage.get();
    // The window publishes a new phrase between the read and the take.
    testutil::writeAll(heardPath, common::shiftUp("10:00:01continue "));
    TakeHeardFile(read);
    ASSERT_TRUE(ReadHeardFile());
    EXPECT_EQ(heardMessage.get(), "10:00:01continue ");
    // Unchanged: taken, so the next read is an empty message.
    TakeHeardFile(heardMessage.get());
    ASSERT_TRUE(ReadHeardFile());
    EXPECT_EQ(heardMessage.get(), "");
}

TEST_F(Exchange, OversizeRecordIsTakenByItsFirstPart) {
    testutil::writeAll(heardPath, std::string(70000, 'y'));
    ASSERT_TRUE(ReadHeardFile());
    TakeHeardFile(heardMessage.get());
    ASSERT_TRUE(ReadHeardFile());
    EXPECT_EQ(heardMessage.get(), "");
}

} // namespace
