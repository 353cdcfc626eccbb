#pragma once
#include <atomic>
#include <string>

namespace tutor {

// The code a heard phrase sets: every keyword test runs in table order and
// the last one that matches wins; 0 when none matches (the code then stays).
unsigned char CommandForPhrase(const std::string& phrase);
// The command reader thread: polls heard.txt, shows each new phrase on row
// 1 and sets commandCode. Never returns.
void CommandReader();
// The same loop, ending once stop is set (tests run it on a thread they
// join again).
void CommandReaderUntil(const std::atomic<bool>& stop);
// Handles one new message: shows the phrase and sets the code.
void HandleHeardMessage(const std::string& message);

} // namespace tutor
