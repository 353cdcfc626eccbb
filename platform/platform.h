// The one interface between the programs and the operating system.
// Strings crossing it are Windows-1252 byte strings; conversion to the
// system's own text form happens inside the implementations.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace platform {

// ---- console -------------------------------------------------------------
// All console calls are serialised, so two threads never interleave a write.

// Prepares the console (raw keyboard on terminals, restore on every exit).
void consoleInit();
// Prints at the cursor; ends the line when newline is set.
void consolePrint(const std::string& text, bool newline);
// Moves the cursor to row, column (both from 1).
void consoleGoto(int row, int column);
// Moves to a column of the current line; a line break first when the
// cursor is already past it.
void consoleToColumn(int column);
// Blanks the screen and puts the cursor at row 1, column 1.
void consoleClear();
// Writes text at row, column and puts the cursor back where it was, as one
// step, so another thread's output is not disturbed.
void consolePrintAtKeepCursor(int row, int column, const std::string& text);
// One pending key without waiting: empty when none, one byte for a key with
// a character code, two bytes (zero, scan code) for one without.
std::string consoleReadKey();
// Like consoleReadKey but waits up to timeoutMs for a key.
std::string consoleWaitKey(int timeoutMs);

// ---- files ---------------------------------------------------------------
// Exchange files: opened for reading and writing, created when absent, held
// exclusively while open, positioned at the first byte, closed at once. Only
// a regular file with no other link to it is used: a symbolic link, a FIFO, a
// directory or a device in its place is refused like a file that cannot be
// opened, so nothing is ever written through it.
// Reads at most maxBytes from the first byte; false when it could not be
// opened (for example held by another process).
bool exchangeRead(const std::string& path, std::size_t maxBytes, std::string& out);
// Writes bytes from the first byte and cuts the file there, so no stale tail
// of a longer record survives. A file held by the other program is waited
// for briefly (write and take alike), so a record is not lost to a collision.
bool exchangeWrite(const std::string& path, const std::string& bytes);
// Empties the file only if what a read of at most maxBytes gives is still
// exactly `expected` (compared while held exclusively), so a record written
// after that read is never lost. True when it emptied it or it is absent.
bool exchangeTakeIfUnchanged(const std::string& path, const std::string& expected,
                             std::size_t maxBytes);
// Takes an existing exchange file: reads at most maxBytes while holding it,
// and deletes it before letting go when the content is not empty or
// deleteIfEmpty is set, so a writer that comes after the delete starts a new
// file instead of writing into the one going away. False when it could not
// be had (missing, held, refused); nothing is deleted then.
bool exchangeTake(const std::string& path, std::size_t maxBytes, std::string& out,
                  bool deleteIfEmpty);
// Reads at most maxBytes from the start of an existing regular file, without
// ever creating it. False when it is missing, unreadable or not a regular
// file (a FIFO or a directory reads as missing, without blocking).
bool readFileNoCreate(const std::string& path, std::size_t maxBytes, std::string& out);
// Deletes a file; a missing file is no error.
void deleteFile(const std::string& path);
// True only for an existing regular file (a directory, or a hidden or system
// file on Windows, counts as missing).
bool fileExists(const std::string& path);
bool createDirectory(const std::string& path);

// ---- processes, threads, time ---------------------------------------------
// Starts a program (its full path is the whole command line) with a shown
// window; waits for its end when wait is set. False when it could not start.
bool startProgram(const std::string& path, bool wait);
// Runs body on a new detached thread with the given stack size.
bool startThread(std::function<void()> body, std::size_t stackBytes);
// Local clock time as "HH:MM:SS".
std::string localTimeStamp();
// Seconds since local midnight, with fractions.
double secondsSinceMidnight();
void sleepMs(int ms);
// Ends the process at once, restoring the console first.
[[noreturn]] void exitProcess(int code);

// ---- environment ---------------------------------------------------------
// The value of an environment variable, empty when unset.
std::string environmentVariable(const std::string& name);
// The built-in install directory: c:\verdel on Windows, $HOME/verdel on Linux.
std::string defaultInstallDir();
char pathSeparator();
// Program file name with the platform's suffix ("verdel101.exe" or "verdel101").
std::string programFileName(const std::string& base);

} // namespace platform
