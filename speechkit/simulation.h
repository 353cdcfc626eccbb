// Simulation mode (XSPEECHKIT_SIMULATE=DIR): no audio device is touched;
// texts handed to playback are appended to DIR/spoken.log, and while
// listening is enabled the files dropped into DIR/inbox/ stand for what the
// microphone heard.
#pragma once

#include <string>
#include <vector>

namespace speechkit {

// The simulation directory, or "" when simulation is off.
std::string simulationDirectory();

// Appends the text as one UTF-8 line (line breaks inside it become spaces).
void appendSpokenLog(const std::string& dir, const std::string& text);

// One file of the inbox, in name order.
struct InboxFile {
    std::string path;
    bool isWav; // else .txt
};
// The .txt and .wav files of DIR/inbox/ (either case of the extension) in
// name order. Names beginning with a dot are left alone, so a writer can
// write under such a name and rename when done.
std::vector<InboxFile> inboxFiles(const std::string& dir);
// Reads a file whole; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string& out);
// Deletes a file; false when it is still there.
bool removeFile(const std::string& path);
// Renames a file within its folder; false when it did not happen.
bool renameFile(const std::string& from, const std::string& to);
// The name an inbox file is decoded under: in the same folder, hidden from
// inboxFiles.
std::string takenName(const std::string& path);

// The longest text that is spoken in one piece: about ten minutes of speech.
constexpr std::size_t kMaxSpokenBytes = 10000;
// The text cut to kMaxSpokenBytes at the last space or line break before
// that, so a word is never cut in half (and a UTF-8 sequence never split).
std::string speakableText(const std::string& text);

} // namespace speechkit
