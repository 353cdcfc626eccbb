#include "../../platform/platform.h"
#include "testutil.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

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

// Record i, of a length that varies with i: a torn record or an older
// one's tail would not read back as any record.
std::string numberedRecord(int i) {
    return "08:00:00record " + std::to_string(i) + " " + std::string(i % 7, '.');
}

// A writer against the other side's poll of the same file, as the two
// programs meet: the window takes each request (read and deleted in one
// hold), the tutor reads the heard phrase and then empties it if unchanged.
// Meeting the file held, or on its way out, is a wait and not a lost
// record: every write lands, whole, and the last one is there to be taken.
TEST(PlatformFiles, AWriteRacingTheOtherSidesPollLandsWhole) {
    const struct {
        const char* name;
        std::string (*poll)(const std::string& path); // the record seen, or ""
    } peers[] = {
        {"take",
         [](const std::string& path) {
             std::string out;
             if (!platform::exchangeTake(path, 100, out, true)) out.clear();
             return out;
         }},
        {"read, then take if unchanged",
         [](const std::string& path) {
             std::string out;
             if (!platform::exchangeRead(path, 100, out)) return std::string();
             if (!out.empty()) platform::exchangeTakeIfUnchanged(path, out, 100);
             return out;
         }},
    };
    constexpr int kRecords = 150;
    for (const auto& peer : peers) {
        SCOPED_TRACE(peer.name);
        const std::string path = testutil::join(testutil::scratchDir("race"), "x.txt");
        std::atomic<bool> stop{false};
        std::vector<std::string> seen;
        std::thread other([&] {
            while (!stop.load()) {
                const std::string record = peer.poll(path);
                if (!record.empty()) seen.push_back(record);
                platform::sleepMs(2); // the other side pauses between polls
            }
        });
        int unwritten = 0;
        for (int i = 0; i < kRecords; ++i)
            if (!platform::exchangeWrite(path, numberedRecord(i))) ++unwritten;
        stop = true;
        other.join();
        const std::string left = peer.poll(path);
        if (!left.empty()) seen.push_back(left);

        EXPECT_EQ(unwritten, 0);
        int previous = -1;
        for (const std::string& record : seen) {
            const int i = std::atoi(record.c_str() + std::string("08:00:00record ").size());
            EXPECT_EQ(record, numberedRecord(i)) << "torn";
            EXPECT_GT(i, previous) << "seen twice or out of order: " << record;
            previous = i;
        }
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back(), numberedRecord(kRecords - 1));
    }
}

#if defined(_WIN32)
// Things a learner's install directory can hold in an exchange file's place
// on Windows (the POSIX ones are in keyparse_test.cpp): another file's
// second name, or a directory. No exchange call uses them, and none waits
// them out as if they were held.
TEST(ExchangeFiles, OnlyAPlainFileOfItsOwnIsUsed) {
    const std::string dir = testutil::scratchDir("odd");
    const std::string target = testutil::join(dir, "precious.txt");
    const struct {
        const char* name;
        bool (*make)(const std::string& target, const std::string& path);
    } cases[] = {
        {"hard link",
         [](const std::string& t, const std::string& p) {
             return CreateHardLinkA(p.c_str(), t.c_str(), nullptr) != 0;
         }},
        {"directory",
         [](const std::string&, const std::string& p) {
             return CreateDirectoryA(p.c_str(), nullptr) != 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::writeAll(target, "precious");
        const std::string path = testutil::join(dir, "heard.txt");
        ASSERT_TRUE(c.make(target, path));
        std::string out;
        EXPECT_FALSE(platform::exchangeRead(path, 100, out));
        EXPECT_FALSE(platform::exchangeWrite(path, "x"));
        EXPECT_FALSE(platform::exchangeTakeIfUnchanged(path, "precious", 100));
        EXPECT_FALSE(platform::exchangeTake(path, 100, out, true));
        EXPECT_EQ(testutil::readAll(target), "precious");
        DeleteFileA(path.c_str());
        RemoveDirectoryA(path.c_str());
    }
}
#endif

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
