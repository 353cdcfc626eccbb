// The installer's payload: its own file read in chunks, each chunk checked
// against the sums of its position, written or reported, and registration.
// A small synthetic installer file stands in for the packaged one; message
// boxes, the pause and the started command are recorded.
#include "../../installer/payload.h"
#include "../../platform/installdir.h"
#include "../../platform/platform.h"
#include "../../platform/setup.h"
#include "testutil.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#ifdef _WIN32
#include <stdlib.h>
#else
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using installer::Sums;

// The sums as their definition gives them, computed independently of the
// program: even positions, odd positions, multiples of 3, counted from 1.
Sums referenceSums(const std::string& bytes) {
    Sums s{0, 0, 0};
    for (std::size_t j = 1; j <= bytes.size(); ++j) {
        const int c = static_cast<unsigned char>(bytes[j - 1]);
        if (j % 2 == 0)
            s[0] += c;
        else
            s[1] += c;
        if (j % 3 == 0) s[2] += c;
    }
    return s;
}

void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

std::string bytesOf(unsigned seed, std::size_t length) {
    std::string out;
    unsigned x = seed;
    for (std::size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        out += static_cast<char>((x >> 16) & 0xFF);
    }
    return out;
}

std::string n(long long v) { // a number as the messages write it
    return (v < 0 ? "-" : " ") + std::to_string(v < 0 ? -v : v);
}

std::string lengthMessage(std::size_t length) {
    return n(static_cast<long long>(length)) + " is len of error data.";
}

std::string summary(int errors, const Sums& sums, int status) {
    return n(errors) +
           " ERRORS Detected during checksums.  Try downloading and installing again.\r" +
           "  =  hashz  = " + n(sums[0]) + n(sums[1]) + n(sums[2]) + " status = " + n(status);
}

std::vector<std::string> messages;
std::vector<int> pauses;
std::vector<std::string> commands;

void recordMessage(const std::string& text) {
    messages.push_back(text);
}
void recordPause(int ms) {
    pauses.push_back(ms);
}
bool recordCommand(const std::string& commandLine) {
    commands.push_back(commandLine);
    return true;
}

const char* const kNames[] = {"",
                              "verdel101.exe",
                              "hearken.exe",
                              "orvane.txt",
                              "XSpeechKit.dll",
                              "verdel-regsvr",
                              "libverdelcom.so"};

// A synthetic installer: an "image" of 100 bytes, then the payload chunks.
// Chunks 1 and 2 have the same length, and so do 3 and 4, so that swapping
// them keeps every boundary.
class Payload : public ::testing::Test {
  protected:
    std::string work, home, here, ownName, original;
    std::vector<std::string> chunks;

    void SetUp() override {
        // A death test's child process on Windows runs the test again from
        // its start: it takes the parent's directory from the environment.
        work = platform::environmentVariable("VERDEL_TEST_PAYLOAD_DIR");
        if (work.empty()) work = testutil::scratchDir("payload");
        home = testutil::join(work, "home");
        here = testutil::join(work, "here");
        platform::createDirectory(home);
        platform::createDirectory(here);
        setEnv("VERDEL_HOME", home);
        original = fs::current_path().string();
        fs::current_path(here);
        ownName = platform::programFileName("installerverdel101");
        useChunks(
            {bytesOf(1, 100), bytesOf(2, 48), bytesOf(3, 48), bytesOf(4, 64), bytesOf(5, 64)});
        messages.clear();
        pauses.clear();
        commands.clear();
        installer::payloadActions = {recordMessage, recordPause, recordCommand};
        installer::messageTitle = "Verdel Typing Tutor";
    }

    void TearDown() override {
        fs::current_path(original);
        setEnv("VERDEL_HOME", "");
    }

    // Tables made from these chunks, as the packaging step makes them.
    void useChunks(const std::vector<std::string>& all) {
        chunks = all;
        using namespace installer;
        chunkLengths.clear();
        expectedHashz.assign(chunks.size(), Sums{});
        targetPaths.assign(chunks.size(), std::string());
        chunkExecutable.assign(chunks.size(), false);
        for (std::size_t k = 0; k < chunks.size(); ++k) {
            chunkLengths.push_back(static_cast<std::int32_t>(chunks[k].size()));
            if (k == 0) continue;
            expectedHashz[k] = referenceSums(chunks[k]);
            targetPaths[k] = testutil::join(home, kNames[k]);
        }
    }

    std::string whole() const {
        std::string all;
        for (const std::string& c : chunks)
            all += c;
        return all;
    }
    std::size_t offsetOf(std::size_t k) const {
        std::size_t at = 0;
        for (std::size_t i = 0; i < k; ++i)
            at += chunks[i].size();
        return at;
    }
    void writeOwnFile(const std::string& bytes) const {
        testutil::writeAll(testutil::join(here, ownName), bytes);
    }
    std::string target(std::size_t k) const { return testutil::readAll(installer::targetPaths[k]); }
    bool written(std::size_t k) const { return platform::fileExists(installer::targetPaths[k]); }
    std::string registration() const {
#ifdef _WIN32
        return "regsvr32 \"" + home + "\\XSpeechKit.dll\"";
#else
        return "\"" + home + "/verdel-regsvr\" \"" + home + "/XSpeechKit.dll\"";
#endif
    }
    // The files in the install directory (no temporary ones among them).
    std::vector<std::string> homeFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(home))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST(ComputeHashz, SumsAndTheTripleTheyMatch) {
    installer::expectedHashz = {Sums{}, Sums{2, 1, 0}, Sums{6, 9, 3}, Sums{6, 9, 3}, Sums{0, 0, 0}};
    const struct {
        std::string chunk;
        Sums sums;
        int status;
    } cases[] = {
        {"", {0, 0, 0}, 4}, // the empty chunk matches a zero triple
        {std::string("\x01\x02", 2), {2, 1, 0}, 1},
        {std::string("\x01\x02\x03\x04\x05", 5), {6, 9, 3}, 3}, // the later match wins
        {std::string("\x02\x01", 2), {1, 2, 0}, 0},
        {std::string("\xff\xff\xff", 3), {255, 510, 255}, 0}, // bytes count unsigned
    };
    for (const auto& c : cases) {
        installer::computeHashz(c.chunk);
        EXPECT_EQ(installer::hashz, c.sums) << c.chunk.size();
        EXPECT_EQ(installer::matchStatus, c.status) << c.chunk.size();
    }
}

TEST_F(Payload, IntactFileWritesEveryChunkAndRegisters) {
    writeOwnFile(whole());
    installer::installPayload();
    for (std::size_t k = 1; k < chunks.size(); ++k)
        EXPECT_EQ(target(k), chunks[k]) << k;
    EXPECT_EQ(homeFiles(), (std::vector<std::string>{"XSpeechKit.dll", "hearken.exe", "orvane.txt",
                                                     "verdel101.exe"}));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(commands, std::vector<std::string>{registration()});
    EXPECT_EQ(installer::errorCount, 0);
}

TEST_F(Payload, OwnFileUnderAnotherNameOrElsewhere) {
    const std::string expected =
        "File name changed of this installer, causing failure: " + testutil::join(here, ownName);
    // Under another name in the current directory.
    testutil::writeAll(testutil::join(here, "installerverdel101 (1)" + ownName.substr(18)),
                       whole());
    installer::installPayload();
    EXPECT_EQ(messages, std::vector<std::string>{expected});

    // The right name, but in another directory than the current one.
    messages.clear();
    const std::string elsewhere = testutil::join(work, "elsewhere");
    platform::createDirectory(elsewhere);
    testutil::writeAll(testutil::join(elsewhere, ownName), whole());
    installer::installPayload();
    EXPECT_EQ(messages, std::vector<std::string>{expected});

    // A directory of that name is no file either.
    messages.clear();
    platform::createDirectory(testutil::join(here, ownName));
    installer::installPayload();
    EXPECT_EQ(messages, std::vector<std::string>{expected});

    EXPECT_TRUE(homeFiles().empty());
    EXPECT_TRUE(pauses.empty());
    EXPECT_TRUE(commands.empty());
}

TEST_F(Payload, EmptyFileOfTheRightName) {
    writeOwnFile("");
    installer::installPayload();
    const std::string zero = lengthMessage(0);
    EXPECT_EQ(messages,
              (std::vector<std::string>{zero, zero, zero, zero, summary(4, Sums{0, 0, 0}, 0)}));
    EXPECT_EQ(messages.back(), " 4 ERRORS Detected during checksums.  Try downloading and "
                               "installing again.\r  =  hashz  =  0 0 0 status =  0");
    EXPECT_EQ(pauses, std::vector<int>{10000});
    EXPECT_TRUE(commands.empty());
    EXPECT_TRUE(homeFiles().empty());
}

TEST_F(Payload, FileCutInsideEachChunk) {
    for (std::size_t cut = 0; cut < chunks.size(); ++cut) {
        SCOPED_TRACE("cut inside chunk " + std::to_string(cut));
        fs::remove_all(home);
        platform::createDirectory(home);
        messages.clear();
        pauses.clear();
        const std::size_t kept = chunks[cut].size() / 2;
        writeOwnFile(whole().substr(0, offsetOf(cut) + kept));
        installer::installPayload();

        std::vector<std::string> expected;
        for (std::size_t k = 1; k < chunks.size(); ++k) {
            if (k < cut) {
                EXPECT_EQ(target(k), chunks[k]) << k;
                continue;
            }
            EXPECT_FALSE(written(k)) << k;
            expected.push_back(lengthMessage(k == cut ? kept : 0));
        }
        // The summary's sums are those of the last chunk as read.
        const std::string lastRead = cut == 4 ? chunks[4].substr(0, kept) : std::string();
        const int failed = static_cast<int>(chunks.size() - (cut == 0 ? 1 : cut));
        expected.push_back(summary(failed, referenceSums(lastRead), 0));
        EXPECT_EQ(messages, expected);
        EXPECT_EQ(pauses, std::vector<int>{10000});
        EXPECT_TRUE(commands.empty());
    }
}

TEST_F(Payload, OneByteChangedInEachChunk) {
    for (std::size_t changed = 0; changed < chunks.size(); ++changed) {
        SCOPED_TRACE("byte changed in chunk " + std::to_string(changed));
        fs::remove_all(home);
        platform::createDirectory(home);
        messages.clear();
        pauses.clear();
        commands.clear();
        std::string file = whole();
        file[offsetOf(changed) + 7] ^= 0x20;
        writeOwnFile(file);
        installer::installPayload();

        if (changed == 0) { // the image is never checked
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(commands, std::vector<std::string>{registration()});
            continue;
        }
        for (std::size_t k = 1; k < chunks.size(); ++k) {
            if (k == changed)
                EXPECT_FALSE(written(k));
            else
                EXPECT_EQ(target(k), chunks[k]) << k;
        }
        // The summary shows the library's sums and status whichever failed.
        const std::string library = file.substr(offsetOf(4), chunks[4].size());
        EXPECT_EQ(messages, (std::vector<std::string>{
                                lengthMessage(chunks[changed].size()),
                                summary(1, referenceSums(library), changed == 4 ? 0 : 4)}));
        EXPECT_EQ(pauses, std::vector<int>{10000});
        EXPECT_TRUE(commands.empty());
    }
}

TEST_F(Payload, SwappedChunksEachFailTheirOwnTriple) {
    const std::string swapped = chunks[0] + chunks[2] + chunks[1] + chunks[4] + chunks[3];
    writeOwnFile(swapped);
    installer::installPayload();
    // Every chunk matched a triple, but that of another position: the last
    // (the library's place) holds the book's bytes and shows status 3.
    EXPECT_EQ(messages, (std::vector<std::string>{lengthMessage(48), lengthMessage(48),
                                                  lengthMessage(64), lengthMessage(64),
                                                  summary(4, referenceSums(chunks[3]), 3)}));
    EXPECT_TRUE(homeFiles().empty());
    EXPECT_TRUE(commands.empty());
}

TEST_F(Payload, BytesExchangedWithinTheSamePositionClassesPass) {
    std::string book = chunks[3];
    ASSERT_NE(book[1], book[3]);
    // Positions 2 and 4: both even, neither a multiple of 3.
    std::swap(book[1], book[3]);
    writeOwnFile(chunks[0] + chunks[1] + chunks[2] + book + chunks[4]);
    installer::installPayload();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(target(3), book); // written as read: the check cannot tell
    EXPECT_EQ(commands.size(), 1u);

    // Positions 2 and 3 fall into different classes: that is caught.
    messages.clear();
    book = chunks[3];
    ASSERT_NE(book[1], book[2]);
    std::swap(book[1], book[2]);
    writeOwnFile(chunks[0] + chunks[1] + chunks[2] + book + chunks[4]);
    installer::installPayload();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], lengthMessage(64));
}

TEST_F(Payload, ExistingLongerTargetsAreReplacedExactly) {
    for (std::size_t k = 1; k < chunks.size(); ++k)
        testutil::writeAll(installer::targetPaths[k], std::string(10000, 'x'));
    writeOwnFile(whole());
    installer::installPayload();
    for (std::size_t k = 1; k < chunks.size(); ++k)
        EXPECT_EQ(target(k), chunks[k]) << k;
    EXPECT_EQ(homeFiles().size(), 4u); // no temporary file left beside them
}

TEST_F(Payload, FailedChunkLeavesTheOldTargetAlone) {
    testutil::writeAll(installer::targetPaths[2], "the old listening window");
    std::string file = whole();
    file[offsetOf(2)] ^= 1;
    writeOwnFile(file);
    installer::installPayload();
    EXPECT_EQ(target(2), "the old listening window");
    EXPECT_EQ(target(1), chunks[1]);
    EXPECT_EQ(target(3), chunks[3]);
}

TEST_F(Payload, InstallDirectoryNotWritable) {
    // The install directory cannot be had (a file stands in its place):
    // every chunk passes, none can be written, the missing library is said.
    const std::string blocked = testutil::join(work, "blocked");
    testutil::writeAll(blocked, "a file, not a directory");
    setEnv("VERDEL_HOME", blocked);
    for (std::size_t k = 1; k < chunks.size(); ++k)
        installer::targetPaths[k] = testutil::join(blocked, kNames[k]);
    writeOwnFile(whole());
    installer::installPayload();
    EXPECT_EQ(messages, std::vector<std::string>{"Cannot find Dll, try installing again."});
    EXPECT_TRUE(pauses.empty());
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(testutil::readAll(blocked), "a file, not a directory");
}

#ifndef _WIN32
TEST_F(Payload, InstallDirectoryWithoutWritePermission) {
    writeOwnFile(whole());
    const auto readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                          fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(home, readOnly);
    const std::vector<std::string> expected{"Cannot find Dll, try installing again."};
    if (geteuid() != 0) {
        installer::installPayload();
        fs::permissions(home, fs::perms::owner_all);
        EXPECT_EQ(messages, expected);
        EXPECT_TRUE(homeFiles().empty());
        return;
    }
    // Permissions do not bind root: the install runs as an ordinary user, in
    // a child process, and reports through its exit code.
    fs::permissions(work, fs::perms::owner_all | readOnly);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        installer::installPayload();
        _exit(messages == expected && homeFiles().empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    fs::permissions(home, fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: wrong messages or a file written; 2: no user to be";
}
#endif

TEST_F(Payload, SixChunksWithTheLinuxExtras) {
    std::vector<std::string> six = chunks;
    six.push_back(bytesOf(6, 30));
    six.push_back(bytesOf(7, 31));
    useChunks(six);
    std::string file = whole();
    file[offsetOf(5) + 3] ^= 4; // the registration tool is checked like the four
    writeOwnFile(file);
    installer::installPayload();
    EXPECT_FALSE(written(5));
    EXPECT_EQ(target(6), six[6]);
    EXPECT_EQ(messages,
              (std::vector<std::string>{lengthMessage(30), summary(1, referenceSums(six[6]), 6)}));
    EXPECT_TRUE(commands.empty());
}

// An install that ends between two files (here: the process is killed while
// a failed chunk's message is up) leaves each target either as it was or
// complete, and no partial file anywhere.
void installAndDieAtFirstMessage() {
    installer::payloadActions.showMessage = [](const std::string&) { std::_Exit(3); };
    installer::installPayload();
    std::_Exit(0);
}

TEST_F(Payload, InterruptedBetweenTwoFiles) {
    for (std::size_t k = 1; k < chunks.size(); ++k)
        testutil::writeAll(installer::targetPaths[k], "old " + std::to_string(k));
    std::string file = whole();
    file[offsetOf(2) + 1] ^= 1;
    writeOwnFile(file);
    setEnv("VERDEL_TEST_PAYLOAD_DIR", work);
    EXPECT_EXIT(installAndDieAtFirstMessage(), ::testing::ExitedWithCode(3), "");
    setEnv("VERDEL_TEST_PAYLOAD_DIR", "");
    EXPECT_EQ(target(1), chunks[1]);
    EXPECT_EQ(target(2), "old 2");
    EXPECT_EQ(target(3), "old 3");
    EXPECT_EQ(target(4), "old 4");
    EXPECT_EQ(homeFiles().size(), 4u);
}

#ifndef _WIN32
// A write that fails partway (here: the file size limit, as a full disk
// would) leaves the old file whole and no temporary file.
void replaceUnderASizeLimit(const std::string& path) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = 4096;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::_Exit(platform::replaceFile(path, std::string(100000, 'n'), true) ? 1 : 7);
}

TEST(ReplaceFile, FailingPartwayKeepsTheOldFile) {
    const std::string dir = testutil::scratchDir("replace");
    const std::string path = testutil::join(dir, "hearken");
    testutil::writeAll(path, "old program");
    EXPECT_EXIT(replaceUnderASizeLimit(path), ::testing::ExitedWithCode(7), "");
    EXPECT_EQ(testutil::readAll(path), "old program");
    EXPECT_FALSE(fs::exists(path + ".part"));
}
#endif

TEST(ReplaceFile, ProgramBitsAndExactContent) {
    const std::string dir = testutil::scratchDir("replace");
    const std::string path = testutil::join(dir, "verdel101");
    testutil::writeAll(path, std::string(5000, 'o'));
    ASSERT_TRUE(platform::replaceFile(path, "new", true));
    EXPECT_EQ(testutil::readAll(path), "new");
#ifndef _WIN32
    EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_exec, fs::perms::none);
    ASSERT_TRUE(platform::replaceFile(path, "text", false));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::owner_exec, fs::perms::none);
#endif
    // A directory in the target's place is not replaced.
    const std::string sub = testutil::join(dir, "sub");
    platform::createDirectory(sub);
    EXPECT_FALSE(platform::replaceFile(sub, "x", false));
    EXPECT_TRUE(fs::is_directory(sub));
    EXPECT_FALSE(fs::exists(sub + ".part"));
}

TEST(ReadNext, SequentialReadsAndTheEnd) {
    const std::string dir = testutil::scratchDir("readnext");
    const std::string path = testutil::join(dir, "f");
    testutil::writeAll(path, "abcdefg");
    const platform::ReadHandle file = platform::openForReading(path);
    ASSERT_NE(file, 0);
    EXPECT_EQ(platform::readNext(file, 3), "abc");
    EXPECT_EQ(platform::readNext(file, 3), "def");
    EXPECT_EQ(platform::readNext(file, 3), "g");
    EXPECT_EQ(platform::readNext(file, 3), "");
    platform::closeReading(file);
    EXPECT_EQ(platform::openForReading(testutil::join(dir, "missing")), 0);
    EXPECT_EQ(platform::readNext(0, 5), ""); // a file that could not be opened reads empty
}

TEST(CommandLine, WordsAndQuotes) {
    const std::string dir = testutil::scratchDir("cmdline");
    EXPECT_FALSE(platform::startCommandLine("", true));
    EXPECT_FALSE(
        platform::startCommandLine("\"" + testutil::join(dir, "no such tool") + "\" x", true));
#ifndef _WIN32
    // A quoted word with blanks arrives as one argument, without its quotes.
    const std::string spaced = testutil::join(dir, "with blank");
    platform::createDirectory(spaced);
    const std::string tool = testutil::join(spaced, "tool");
    testutil::writeAll(tool, "#!/bin/sh\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/out\"\n");
    fs::permissions(tool, fs::perms::owner_all);
    ASSERT_TRUE(platform::startCommandLine("\"" + tool + "\" \"two words\" three", true));
    EXPECT_EQ(testutil::readAll(testutil::join(spaced, "out")), "two words|three|");
#else
    EXPECT_TRUE(platform::startCommandLine("cmd /c exit 0", true));
#endif
}

} // namespace
