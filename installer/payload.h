// The payload that follows the installer's program image in its own file:
// read in one pass of sequential reads, each chunk checked against the sums
// expected for its position, written into the install directory, and the
// speech component registered when every chunk passed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace installer {

// Chunk 0 is the program image padded to chunkLengths[0]; chunks 1 to 4 are
// the tutor, the listening window, the book and the component library. On
// Linux two more follow: the registration tool and the COM library.
constexpr int kLibraryChunk = 4;

using Sums = std::array<std::int32_t, 3>;

// The title of every message box of the installer.
extern std::string messageTitle;
// The tables, filled at start-up (index = chunk number; entry 0 of the
// last three is unused).
extern std::vector<std::int32_t> chunkLengths;
extern std::vector<std::string> chunkFileNames; // installed names, for targetPaths
extern std::vector<std::string> targetPaths;
extern std::vector<Sums> expectedHashz;
extern std::vector<bool> chunkExecutable; // written as a program (Linux)
// The bytes read for each chunk.
extern std::vector<std::string> chunkData;
// The sums of the chunk checked last, and the number of the expected triple
// they matched (0: none).
extern Sums hashz;
extern std::int16_t matchStatus;
// Chunks that failed their check.
extern std::uint16_t errorCount;

// The sums S0 (even positions), S1 (odd) and S2 (multiples of 3) of the
// chunk, positions counted from 1, into hashz; matchStatus is the number of
// the expected triple they equal (the last one, should several), else 0.
void computeHashz(const std::string& chunk);

// Fills chunkLengths, chunkFileNames, expectedHashz and chunkExecutable with
// the figures of the payload this installer was packaged with.
void initPackagedTables();

// Reads the installer's own file from the current directory, checks every
// chunk, writes each that passed, reports each that failed, and registers
// the component library when all passed. Blocks until done.
void installPayload();

// What installPayload does outside its own logic: the program sets the
// system's (a message box titled messageTitle, a sleep, a started command
// line waited for); tests set recorders.
struct PayloadActions {
    void (*showMessage)(const std::string& text);
    void (*pause)(int milliseconds);
    bool (*runAndWait)(const std::string& commandLine);
};
extern PayloadActions payloadActions;

} // namespace installer
