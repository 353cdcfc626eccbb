// The listening window's side of the two exchange files: it publishes each
// recognised phrase into heard.txt and takes the tutor's requests out of
// speak.txt. Both run on the window's one thread.
#pragma once
#include <string>

namespace listener {

// Paths of the exchange files, joined onto the install directory by
// SetExchangePaths at start-up.
extern std::string speakPath;
extern std::string heardPath;
// The raw bytes of the last speak.txt content acted on; empty at start-up.
extern std::string lastSpeakContent;
// Set when the previous look found speak.txt empty. A writer leaves the file
// empty for an instant between creating and filling it, so an empty file is
// removed only when it is still empty at the next look.
extern bool emptySpeakSeen;

void SetExchangePaths();

// Heard-file writer: stamps the phrase (Windows-1252) with the local time,
// shifts it and writes heard.txt whole. A failure loses the phrase silently.
void WriteHeardFile(const std::string& phrase);

// Speak-file check: takes a new request out of speak.txt and returns its
// text (stamp dropped), or an empty string when there is nothing to say.
std::string CheckSpeakFile();

} // namespace listener
