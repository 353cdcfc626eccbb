#include "../../common/codepage.h"
#include "../../platform/posix/keyparse.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "../../platform/platform.h"
#include "testutil.h"

namespace {

std::string scan(int code) {
    return std::string(1, '\0') + static_cast<char>(code);
}

// All keys the bytes give, the way the console takes them.
std::vector<std::string> keysOf(const std::string& bytes) {
    std::vector<std::string> keys;
    std::string rest = bytes;
    while (!rest.empty()) {
        std::string key;
        std::size_t used = platform::posix::parseTerminalKey(rest, false, key);
        if (used == 0) used = platform::posix::parseTerminalKey(rest, true, key);
        rest.erase(0, used);
        if (!key.empty()) keys.push_back(key);
    }
    return keys;
}

TEST(TerminalKeys, Table) {
    const std::string unmappable(1, static_cast<char>(common::kUnmappableKey));
    const struct {
        const char* name;
        std::string bytes;
        std::vector<std::string> keys;
    } cases[] = {
        {"letters", "aZ", {"a", "Z"}},
        {"backspace is 8", "\x7f", {"\b"}},
        {"enter is 13", "\r", {"\r"}},
        {"tab", "\t", {"\t"}},
        {"NUL is Ctrl+2, a key without a character", std::string("\0a", 2), {scan(3), "a"}},
        {"arrows", "\x1b[A\x1b[B\x1b[D\x1b[C", {scan(72), scan(80), scan(75), scan(77)}},
        {"application arrows", "\x1bOA", {scan(72)}},
        {"home end", "\x1b[H\x1b[F\x1b[1~\x1b[4~", {scan(71), scan(79), scan(71), scan(79)}},
        {"delete insert pages",
         "\x1b[3~\x1b[2~\x1b[5~\x1b[6~",
         {scan(83), scan(82), scan(73), scan(81)}},
        {"function keys", "\x1bOP\x1b[15~\x1b[24~", {scan(59), scan(63), scan(134)}},
        {"modified arrow", "\x1b[1;5C", {scan(77)}},
        // 2^32 + 3: must not wrap round to 3 (Delete).
        {"overlong number is no key",
         "\x1b[4294967299~"
         "a",
         {"a"}},
        {"very long number", "\x1b[99999999999999999999999999~", {}},
        {"lone escape", "\x1b", {"\x1b"}},
        {"escape then letter", "\x1bx", {"\x1b", "x"}},
        {"unknown sequence dropped",
         "\x1b[I"
         "a",
         {"a"}},
        {"latin-1 letter", "\xc3\xa9", {"\xe9"}},
        {"euro sign", "\xe2\x82\xac", {"\x80"}},
        {"emoji is one key", "\xf0\x9f\x98\x80", {unmappable}},
        {"CJK is one key",
         "\xe4\xb8\xad"
         "a",
         {unmappable, "a"}},
        {"cut-off character", "\xe4\xb8", {unmappable}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(keysOf(c.bytes), c.keys) << c.name;
}

TEST(TerminalKeys, IncompleteSequenceWaitsForMore) {
    std::string key;
    EXPECT_EQ(platform::posix::parseTerminalKey("\x1b[", false, key), 0u);
    EXPECT_EQ(platform::posix::parseTerminalKey("\xf0\x9f", false, key), 0u);
    EXPECT_EQ(platform::posix::parseTerminalKey("\x1b", false, key), 0u);
}

TEST(ExchangeLock, AFileHeldByAnotherOpenerCannotBeHad) {
    const std::string path = testutil::join(testutil::scratchDir("lock"), "heard.txt");
    testutil::writeAll(path, "held");
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    std::string out = "before";
    EXPECT_FALSE(platform::exchangeRead(path, 100, out));
    EXPECT_FALSE(platform::exchangeWrite(path, "x"));
    EXPECT_FALSE(platform::exchangeTakeIfUnchanged(path, "held", 100));
    ::close(fd);
    EXPECT_TRUE(platform::exchangeRead(path, 100, out));
    EXPECT_EQ(out, "held");
}

// Our open file can have another holder for a moment: a process looking at
// our descriptors (ls -l /proc/PID/fd), a child between fork and exec. Once a
// call is done with an exchange file, the file must be free to the next one
// all the same: else a record written a moment ago cannot be read or taken.
// Here a thread of ours copies the descriptor the calls use and keeps each
// copy for a while (by bare system calls: the copying is the test's own
// doing, which ThreadSanitizer need not watch).
TEST(ExchangeLock, AFileIsFreeOnceACallIsDoneWithIt) {
    const std::string path = testutil::join(testutil::scratchDir("lingering"), "heard.txt");
    const int next = ::open("/dev/null", O_RDONLY); // the descriptor the calls will get
    ASSERT_GE(next, 0);
    ::close(next);
    std::atomic<bool> stop{false};
    std::thread looker([&] {
        while (!stop.load()) {
            const long copy = ::syscall(SYS_dup, next);
            if (copy < 0) continue;
            ::usleep(200);
            ::syscall(SYS_close, copy);
        }
    });
    int unwritten = 0;
    int unread = 0;
    int untaken = 0;
    for (int i = 0; i < 300; ++i) {
        const std::string record = "08:00:00chapter " + std::to_string(i);
        std::string out;
        if (!platform::exchangeWrite(path, record)) ++unwritten;
        if (!platform::exchangeRead(path, 100, out) || out != record) ++unread;
        if (!platform::exchangeTake(path, 100, out, true) || out != record) ++untaken;
        platform::deleteFile(path);
    }
    stop = true;
    looker.join();
    EXPECT_EQ(unwritten, 0);
    EXPECT_EQ(unread, 0);
    EXPECT_EQ(untaken, 0);
}

// Things a learner's install directory can hold in an exchange file's or the
// book's place. No exchange call may use them (write through, empty or read
// them); reading the book may follow a link but must neither block on a FIFO
// nor take a directory for a file.
TEST(ExchangeFiles, OnlyAPlainFileOfItsOwnIsUsed) {
    const std::string dir = testutil::scratchDir("odd");
    const std::string target = testutil::join(dir, "precious.txt");
    const struct {
        const char* name;
        int (*make)(const char* target, const char* path);
        bool readableAsBook;
    } cases[] = {
        {"symbolic link", [](const char* t, const char* p) { return ::symlink(t, p); }, true},
        {"hard link", [](const char* t, const char* p) { return ::link(t, p); }, true},
        {"fifo", [](const char*, const char* p) { return ::mkfifo(p, 0600); }, false},
        {"directory", [](const char*, const char* p) { return ::mkdir(p, 0700); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::writeAll(target, "precious");
        const std::string path = testutil::join(dir, "heard.txt");
        ASSERT_EQ(c.make(target.c_str(), path.c_str()), 0);
        std::string out = "before";
        EXPECT_FALSE(platform::exchangeRead(path, 100, out));
        EXPECT_FALSE(platform::exchangeWrite(path, "x"));
        EXPECT_FALSE(platform::exchangeTakeIfUnchanged(path, "precious", 100));
        EXPECT_EQ(testutil::readAll(target), "precious");
        EXPECT_EQ(platform::readFileNoCreate(path, 100, out), c.readableAsBook);
        ::unlink(path.c_str());
        ::rmdir(path.c_str());
    }
}

// A write the file system cuts short (a full disk) fails, and leaves no part
// of its record: a torn "chapter 123 " must not be read as "chapter 1", nor a
// new head run into an older record's tail. The cut is made by a file size
// limit, in a child process of its own.
TEST(ExchangeFiles, AWriteCutShortLeavesNoPartOfItsRecord) {
    const std::string dir = testutil::scratchDir("cut");
    const struct {
        const char* name;
        const char* before; // nullptr: no file yet
    } cases[] = {
        {"new file", nullptr},
        {"older, longer record", "07:59:59an older record, longer than the new one "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = testutil::join(dir, "heard.txt");
        ::unlink(path.c_str());
        if (c.before) testutil::writeAll(path, c.before);
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {10, 10};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
            _exit(platform::exchangeWrite(path, "08:00:00chapter 123 ") ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported as written; 2: no limit to be had";
        EXPECT_EQ(testutil::readAll(path), "");
    }
}

} // namespace
