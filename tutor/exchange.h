#pragma once
#include <string>

namespace tutor {

// Hands speakText to the listening window through speak.txt. Returns once
// the request is on disk. Never hangs: when no window takes requests it
// stops waiting after a bound and replaces the stale request.
void Say();
// Start-up only: writes the greeting and sets listenerAbsent to 0 when a
// listening window takes it within six checks a second apart, else 255.
void ProbeListener();
// Reads heard.txt into heardMessage, decoded. False, with heardMessage left
// as it was, when the file could not be opened (held by the other side).
bool ReadHeardFile();
// Empties heard.txt if it still holds the message just read, so that a
// phrase written after that read is kept for the next one.
void TakeHeardFile(const std::string& message);

// How long Say waits for the previous request to be taken.
constexpr int kSayWaitBoundMs = 4000;

} // namespace tutor
