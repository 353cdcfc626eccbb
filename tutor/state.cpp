#include "state.h"

#include "../platform/installdir.h"
#include "../platform/platform.h"

namespace tutor {

std::vector<Number> charAttempts;
std::vector<Number> charSeconds;
std::vector<Number> charCorrect;
std::vector<std::string> helpLines;
std::vector<std::string> paragraphs;
std::vector<Number> lastWordIndex;
WordTable paragraphWords;

std::atomic<unsigned char> commandCode{0};
SharedText heardMessage;
SharedText heardPhrase;

namespace {
std::mutex commandPhraseLock;
std::string commandPhrases[256];
} // namespace

void SetCommand(unsigned char code, const std::string& phrase) {
    {
        std::lock_guard<std::mutex> hold(commandPhraseLock);
        commandPhrases[code] = phrase;
    }
    // The phrase is in place before the code is seen.
    commandCode.store(code);
}

std::string CommandPhrase(unsigned char code) {
    std::lock_guard<std::mutex> hold(commandPhraseLock);
    return commandPhrases[code];
}

Number jumpTarget = 0;
Number currentParagraph = 0;
std::string paragraphText;
Number wordOffset = 0;
std::string speakText;
Number lineWidth = 0;
bool textValid = false;
unsigned char listenerAbsent = 0;

std::string bookPath;
std::string speakPath;
std::string heardPath;
std::string listenerPath;

const std::string& WordTable::at(Number paragraph, Number word) const {
    static const std::string empty;
    const long p = indexOf(paragraph);
    const long w = indexOf(word);
    if (p < 0 || p >= static_cast<long>(rows_.size()) || w < 0) return empty;
    const std::vector<std::string>& row = rows_[static_cast<std::size_t>(p)];
    return w < static_cast<long>(row.size()) ? row[static_cast<std::size_t>(w)] : empty;
}

void WordTable::append(long paragraph, long word, char c) {
    if (paragraph < 0 || paragraph >= static_cast<long>(rows_.size()) || word < 0 || word >= kWords)
        return;
    std::vector<std::string>& row = rows_[static_cast<std::size_t>(paragraph)];
    if (static_cast<long>(row.size()) <= word) row.resize(static_cast<std::size_t>(word) + 1);
    row[static_cast<std::size_t>(word)] += c;
}

void AllocateSmallTables() {
    charAttempts.assign(301, 0);
    charSeconds.assign(301, 0);
    charCorrect.assign(301, 0);
    helpLines.assign(11, std::string());
}

void AllocateBookTables() {
    paragraphs.assign(100001, std::string());
    lastWordIndex.assign(5001, 0);
    paragraphWords.allocate();
}

void SetFilePaths() {
    bookPath = platform::installPath("orvane.txt");
    speakPath = platform::installPath("speak.txt");
    heardPath = platform::installPath("heard.txt");
    listenerPath = platform::installPath(platform::programFileName("hearken"));
}

std::string padCut(const std::string& text, std::size_t width) {
    std::string out = text.substr(0, width);
    out.resize(width, ' ');
    return out;
}

} // namespace tutor
