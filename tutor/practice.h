#pragma once
#include <string>

namespace tutor {

// One word being typed: what is expected, what was typed after repairs, and
// the repair digits written so far.
struct WordAttempt {
    std::string expectedText;
    std::string typedText;
    std::string markLine = std::string(80, ' ');
};

// What one keystroke did to the word.
struct KeystrokeResult {
    std::string markString; // the feedback line
    bool complete = false;  // the word is done
};

// The two halves of one keystroke: the edit of typedText (backspace or
// append), then the evaluation of every position with its repairs.
void EditTyped(WordAttempt& word, const std::string& pendingKey);
KeystrokeResult EvaluateKeystroke(WordAttempt& word, const std::string& pendingKey, long double t);
// Applies one keystroke to the word: edits typedText (backspace, append,
// repairs), writes repair digits into markLine, builds the feedback line and
// adds to the per-character statistics with keystroke time t seconds.
KeystrokeResult ApplyKeystroke(WordAttempt& word, const std::string& pendingKey, long double t);

// One keystroke as practice handles it: the edit, the rows 4, 6, 7 and 8
// drawn, the evaluation, and row 7 again with the repairs.
KeystrokeResult ProcessKeystroke(WordAttempt& word, const std::string& pendingKey, long double t,
                                 const std::string& wordText, long double paragraph, long double w,
                                 long double& lastFitting);

// The line of words from word w onwards that fit into 79 columns, each
// preceded by a space. lastFitting carries over between calls: it stays as
// it was when even word w does not fit.
std::string UpcomingLine(long double paragraph, long double w, long double& lastFitting);

// One results cell: the character, its speed, one space, its accuracy.
std::string ResultCell(int code);

// Practises paragraph currentParagraph word by word; returns when it is typed
// or when a command ends the wait for a key.
void TypingPractice();
// The statistics page; waits while the code is 1, then clears the screen.
void ShowResults();

} // namespace tutor
