// The tutor's program-wide tables and shared state, visible to all of its
// routines and to its threads.
#pragma once

#include <atomic>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

namespace tutor {

// Counters and indices are whole numbers held in extended precision.
using Number = long double;

// A table index: the value rounded to the nearest integer.
inline long indexOf(Number value) {
    return std::lround(value);
}

// A string shared between the main thread and the command reader: every read
// and write is one indivisible step.
class SharedText {
  public:
    std::string get() const {
        std::lock_guard<std::mutex> hold(lock_);
        return text_;
    }
    void set(const std::string& text) {
        std::lock_guard<std::mutex> hold(lock_);
        text_ = text;
    }

  private:
    mutable std::mutex lock_;
    std::string text_;
};

// The words of each paragraph, indexed (paragraph 0..3000, word 0..5000).
// Stored by paragraph with only the words that exist; every other slot in
// range reads as the empty string.
class WordTable {
  public:
    static constexpr long kParagraphs = 3001;
    static constexpr long kWords = 5001;
    void allocate() { rows_.assign(kParagraphs, {}); }
    const std::string& at(Number paragraph, Number word) const;
    // Appends one character to the word, growing the paragraph's row.
    void append(long paragraph, long word, char c);

  private:
    std::vector<std::vector<std::string>> rows_;
};

// Tables, allocated at start-up.
extern std::vector<Number> charAttempts;    // 0..300
extern std::vector<Number> charSeconds;     // 0..300
extern std::vector<Number> charCorrect;     // 0..300
extern std::vector<std::string> helpLines;  // 0..10
extern std::vector<std::string> paragraphs; // 0..100000
extern std::vector<Number> lastWordIndex;   // 0..5000
extern WordTable paragraphWords;

// Shared between the main thread and the command reader.
extern std::atomic<unsigned char> commandCode;
extern SharedText heardMessage;
extern SharedText heardPhrase;

// Stores a command code together with the phrase that set it. heardPhrase
// is replaced by every message (also by the empty one that follows each
// phrase), so whoever acts on a code takes the phrase from here instead.
void SetCommand(unsigned char code, const std::string& phrase);
// The phrase the code was last set with; empty when it never was.
std::string CommandPhrase(unsigned char code);

// Main thread only.
extern Number jumpTarget;
extern Number currentParagraph;
extern std::string paragraphText;
extern Number wordOffset;
extern std::string speakText;
extern Number lineWidth;
extern bool textValid;
extern unsigned char listenerAbsent;

// Fixed file paths, joined onto the install directory at start-up.
extern std::string bookPath;
extern std::string speakPath;
extern std::string heardPath;
extern std::string listenerPath;

// Allocates the statistics tables and helpLines.
void AllocateSmallTables();
// Allocates paragraphs, lastWordIndex and paragraphWords.
void AllocateBookTables();
// Joins the fixed file names onto the install directory.
void SetFilePaths();

// Command codes.
constexpr unsigned char kCodeNone = 0;
constexpr unsigned char kCodeLocate = 150;
constexpr unsigned char kCodeContinue = 255;
constexpr unsigned char kCodeExit = 250;
constexpr unsigned char kCodeResult = 1;
constexpr unsigned char kCodeChapter = 200;
constexpr unsigned char kCodeHelp = 100;
constexpr unsigned char kCodeYes = 49;
constexpr unsigned char kCodeNo = 50;

// Text padded with spaces and cut to exactly width characters.
std::string padCut(const std::string& text, std::size_t width);

} // namespace tutor
