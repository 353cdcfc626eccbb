#include "../../platform/platform.h"
#include "testutil.h"

#include <atomic>
#include <gtest/gtest.h>

namespace {

TEST(PlatformFiles, ExchangeWriteReadAndTake) {
    const std::string dir = testutil::scratchDir("files");
    const std::string path = testutil::join(dir, "x.txt");
    std::string out = "junk";
    EXPECT_TRUE(platform::exchangeRead(path, 100, out)); // created when absent
    EXPECT_EQ(out, "");
    EXPECT_TRUE(platform::fileExists(path));

    EXPECT_TRUE(platform::exchangeWrite(path, "a long first record"));
    EXPECT_TRUE(platform::exchangeWrite(path, "short")); // no tail left behind
    EXPECT_TRUE(platform::exchangeRead(path, 100, out));
    EXPECT_EQ(out, "short");
    EXPECT_TRUE(platform::exchangeRead(path, 3, out));
    EXPECT_EQ(out, "sho");

    EXPECT_FALSE(platform::exchangeTakeIfUnchanged(path, "other", 100));
    EXPECT_EQ(testutil::readAll(path), "short");
    EXPECT_TRUE(platform::exchangeTakeIfUnchanged(path, "short", 100));
    EXPECT_EQ(testutil::readAll(path), "");
    platform::deleteFile(path);
    EXPECT_TRUE(platform::exchangeTakeIfUnchanged(path, "short", 100)); // absent: nothing to take
    EXPECT_FALSE(platform::fileExists(path)) << "taking must not create the file";

    // The window's take: read and deleted in one hold; an empty file only
    // when asked; a missing one is not created.
    EXPECT_FALSE(platform::exchangeTake(path, 100, out, true));
    EXPECT_FALSE(platform::fileExists(path));
    EXPECT_TRUE(platform::exchangeRead(path, 100, out)); // now there, empty
    EXPECT_TRUE(platform::exchangeTake(path, 100, out, false));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(platform::fileExists(path));
    EXPECT_TRUE(platform::exchangeTake(path, 100, out, true));
    EXPECT_FALSE(platform::fileExists(path));
    EXPECT_TRUE(platform::exchangeWrite(path, "a request"));
    EXPECT_TRUE(platform::exchangeTake(path, 100, out, false));
    EXPECT_EQ(out, "a request");
    EXPECT_FALSE(platform::fileExists(path));
    EXPECT_TRUE(platform::exchangeWrite(path, "the next one")); // a new file
    EXPECT_EQ(testutil::readAll(path), "the next one");
}

TEST(PlatformFiles, ExistenceDeletionAndDirectories) {
    const std::string dir = testutil::scratchDir("exist");
    const std::string path = testutil::join(dir, "f.txt");
    platform::deleteFile(path); // missing: no error
    EXPECT_FALSE(platform::fileExists(path));
    std::string out;
    EXPECT_FALSE(platform::readFileNoCreate(path, 10, out));
    EXPECT_FALSE(platform::fileExists(path)) << "reading must not create";
    testutil::writeAll(path, "abc");
    EXPECT_TRUE(platform::fileExists(path));
    EXPECT_TRUE(platform::readFileNoCreate(path, 10, out));
    EXPECT_EQ(out, "abc");
    platform::deleteFile(path);
    EXPECT_FALSE(platform::fileExists(path));

    const std::string sub = testutil::join(dir, "sub");
    EXPECT_TRUE(platform::createDirectory(sub));
    EXPECT_TRUE(platform::createDirectory(sub)); // already there
    EXPECT_FALSE(platform::fileExists(sub)) << "a directory is not a file";
    EXPECT_FALSE(platform::createDirectory(testutil::join(testutil::join(dir, "no"), "deeper")));
    EXPECT_FALSE(platform::exchangeWrite(testutil::join(testutil::join(dir, "no"), "x"), "x"));
}

TEST(PlatformTime, StampAndClock) {
    const std::string stamp = platform::localTimeStamp();
    ASSERT_EQ(stamp.size(), 8u);
    EXPECT_EQ(stamp[2], ':');
    EXPECT_EQ(stamp[5], ':');
    const double s = platform::secondsSinceMidnight();
    EXPECT_GE(s, 0.0);
    EXPECT_LT(s, 86400.0);
}

TEST(PlatformThreads, ThreadRuns) {
    std::atomic<int> ran{0};
    ASSERT_TRUE(platform::startThread([&] { ran = 1; }, 1024 * 1024));
    for (int i = 0; i < 500 && ran.load() == 0; ++i)
        platform::sleepMs(10);
    EXPECT_EQ(ran.load(), 1);
}

TEST(PlatformProcess, MissingProgramDoesNotStart) {
    EXPECT_FALSE(platform::startProgram(
        testutil::join(testutil::scratchDir("proc"), platform::programFileName("nothing")), true));
}

} // namespace
