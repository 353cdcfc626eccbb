// What the installer needs of the system beyond platform.h: reading its own
// file in pieces, replacing a file as one step, starting a command line or a
// console program, and the common controls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The current directory as the system reports it, without a trailing
// separator (except for a root).
std::string currentDirectory();

// A file opened for reading, positioned at its first byte; 0 when it could
// not be opened.
using ReadHandle = std::intptr_t;
ReadHandle openForReading(const std::string& path);
// The next count bytes of the file: fewer where it ends, none after its end
// or after a read error.
std::string readNext(ReadHandle file, std::size_t count);
void closeReading(ReadHandle file);

// Replaces the file at path by exactly these bytes, as one step: they are
// written beside it under a temporary name, flushed to disk and renamed over
// it, so the path holds either its old content or all of the new, never a
// part. On failure the old file stays as it was and no temporary file is
// left. On Linux, executable sets the program bits (mode 0755, else 0644).
bool replaceFile(const std::string& path, const std::string& bytes, bool executable);

// The first word of the command line that registers a component library:
// "regsvr32" on Windows; on Linux our registration tool in the install
// directory, quoted.
std::string registrationTool();

// Starts a command line as a new process: its program and arguments
// separated by blanks, an argument in double quotes may hold blanks. On
// Windows the system looks the program up as it does for any command; the
// process gets a normally shown window, our current directory and
// environment and none of our handles. Waits for its end when wait is set.
// False when it could not be started.
bool startCommandLine(const std::string& commandLine, bool wait);

// Runs a console program in a console of its own and waits for its end:
// on Windows a new console window; on Linux the terminal this program runs
// in when it has one, else a terminal emulator window. False when it could
// not be started.
bool runInOwnConsole(const std::string& path);

// Initialises the common controls library (Windows); nothing on Linux.
void initCommonControls();

} // namespace platform
