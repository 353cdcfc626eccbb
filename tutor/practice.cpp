#include "practice.h"

#include "../common/codepage.h"
#include "../common/numbertext.h"
#include "../platform/platform.h"
#include "exchange.h"
#include "help.h"
#include "state.h"

#include <cmath>

namespace tutor {

namespace {

// Character k (from 1) of a string; empty beyond its end.
std::string charAt(const std::string& s, std::size_t k) {
    return k >= 1 && k <= s.size() ? s.substr(k - 1, 1) : std::string();
}

void writeRepairDigit(std::string& markLine, long position, char digit) {
    if (position >= 1 && position <= static_cast<long>(markLine.size()))
        markLine[static_cast<std::size_t>(position - 1)] = digit;
}

// Row 7 shows what was typed; cut to the row so an overlong line cannot run
// into the rows below.
void showTyped(const std::string& typedText) {
    platform::consoleGoto(7, 2);
    platform::consolePrint((typedText + std::string(37, ' ')).substr(0, 79), true);
}

constexpr int kKeyWaitMs = 80;

} // namespace

void EditTyped(WordAttempt& word, const std::string& pendingKey) {
    if (pendingKey == "\b") {
        if (!word.typedText.empty()) word.typedText.pop_back();
    } else {
        word.typedText += pendingKey;
    }
}

KeystrokeResult EvaluateKeystroke(WordAttempt& word, const std::string& pendingKey, long double t) {
    std::string& typed = word.typedText;
    const std::string& expected = word.expectedText;
    const std::size_t n = typed.size();
    const std::size_t stat = static_cast<unsigned char>(pendingKey.empty() ? 0 : pendingKey[0]);
    KeystrokeResult result;
    for (std::size_t k = 1; k <= n; ++k) {
        const std::string e = charAt(expected, k);
        const std::string c = charAt(typed, k);
        int state = 0;
        if (common::upperCp1252(e) == common::upperCp1252(c)) state = 1;
        if (e == c) state = 2;
        if (state == 0 && typed.size() > 1 && charAt(expected, typed.size() - 1) == pendingKey) {
            typed = expected.substr(0, typed.size() - 1);
            state = 9;
        }
        if (state == 0 && typed.size() < expected.size() && pendingKey != " " &&
            charAt(expected, typed.size() + 1) == pendingKey) {
            typed = expected.substr(0, typed.size() + 1);
            state = 11;
        }
        if (state == 0 && typed.size() < expected.size() && pendingKey != " " &&
            charAt(expected, typed.size() + 2) == pendingKey) {
            typed = expected.substr(0, typed.size() + 2);
            state = 12;
        }
        if (typed == " ") state = 3;
        const long nl = static_cast<long>(n);
        if (state == 9) writeRepairDigit(word.markLine, nl - 1, '0');
        if (state == 11) writeRepairDigit(word.markLine, nl + 1, '1');
        if (state == 12) writeRepairDigit(word.markLine, nl + 1, '2');
        const std::string mark = charAt(word.markLine, k);
        if (mark != " ") {
            state = 5;
            result.markString += mark;
        }
        if (state == 0) result.markString += "X";
        if (state == 1) result.markString += "^";
        if (state == 2) result.markString += "_";
        if (state == 2) charCorrect[stat] += 1;
        charAttempts[stat] += 1;
        charSeconds[stat] += t;
    }
    result.complete = common::upperCp1252(typed) == common::upperCp1252(expected) ||
                      typed.size() > expected.size();
    return result;
}

KeystrokeResult ApplyKeystroke(WordAttempt& word, const std::string& pendingKey, long double t) {
    EditTyped(word, pendingKey);
    return EvaluateKeystroke(word, pendingKey, t);
}

std::string UpcomingLine(long double paragraph, long double w, long double& lastFitting) {
    const long double last = lastWordIndex[static_cast<std::size_t>(indexOf(paragraph))];
    long double sum = 0;
    for (long double j = w; j <= last; ++j) {
        sum += paragraphWords.at(paragraph, j).size() + 1;
        if (sum > 79) break;
        lastFitting = j;
    }
    std::string line;
    for (long double j = w; j <= lastFitting; ++j)
        line += " " + paragraphWords.at(paragraph, j);
    return line;
}

KeystrokeResult ProcessKeystroke(WordAttempt& word, const std::string& pendingKey, long double t,
                                 const std::string& wordText, long double paragraph, long double w,
                                 long double& lastFitting) {
    EditTyped(word, pendingKey);
    showTyped(word.typedText);
    word.expectedText = wordText + " ";
    platform::consoleGoto(4, 1);
    platform::consolePrint("Please type: " + padCut(word.expectedText, 79), true);
    const std::string upcoming = UpcomingLine(paragraph, w, lastFitting);
    platform::consoleGoto(6, 1);
    platform::consolePrint(padCut(upcoming, 79), false);
    platform::consoleGoto(8, 1);
    platform::consolePrint(std::string(80, ' '), false);
    platform::consoleGoto(8, 2);
    const KeystrokeResult result = EvaluateKeystroke(word, pendingKey, t);
    platform::consolePrint(result.markString, true);
    showTyped(word.typedText); // now with the repairs
    return result;
}

void TypingPractice() {
    if (paragraphText.empty()) return;
    const long double p = currentParagraph;
    const long double lastWord = lastWordIndex[static_cast<std::size_t>(indexOf(p))];
    std::string pendingKey = " ";
    long double lastFitting = 0;
    for (long double w = 0; w <= lastWord; ++w) {
        WordAttempt word;
        const std::string& text = paragraphWords.at(p, w);
        speakText = w == 0 ? "Get ready to type the first word.  It is " + text : text;
        Say();
        platform::sleepMs(250);
        for (;;) {
            // Wait for a key; commands are looked at whenever none is pending.
            const double keyStart = platform::secondsSinceMidnight();
            while (pendingKey.empty()) {
                pendingKey = platform::consoleWaitKey(kKeyWaitMs);
                const unsigned char code = commandCode.load();
                if (code == kCodeResult) {
                    ShowResults();
                    return;
                }
                if (code == kCodeExit || code == kCodeChapter) return;
                if (code == kCodeHelp) {
                    ShowHelp();
                    return;
                }
                if (code == kCodeLocate) return;
            }
            long double t = platform::secondsSinceMidnight() - keyStart;
            if (t < 0 || t > 10000) t = 0;

            const KeystrokeResult result =
                ProcessKeystroke(word, pendingKey, t, text, p, w, lastFitting);
            if (result.complete) break; // the key stays for the next word
            if (word.typedText == " ") word.typedText.clear();
            pendingKey.clear();
        }
    }
}

std::string ResultCell(int code) {
    const std::size_t i = static_cast<std::size_t>(code);
    long double a = std::floor(1000 * charCorrect[i] / charAttempts[i]) / 10;
    if (a < 0 || std::isnan(a)) a = 0;
    const std::string label = a > 0 ? common::numberText(a) + "%" : "?";
    const long double s = std::floor(10 * 12 * charAttempts[i] / charSeconds[i]) / 10;
    // A character never timed has no speed: "?" rather than inf or nan.
    const std::string speed = std::isfinite(s) ? common::numberText(s) : " ?";
    return std::string(1, static_cast<char>(code)) + speed + " " + label;
}

void ShowResults() {
    platform::consolePrint("", true);
    platform::consolePrint("", true);
    int slot = 0;
    for (int i = 32; i <= 127; ++i) {
        platform::consoleToColumn(19 * slot + 1);
        platform::consolePrint(ResultCell(i), false);
        slot = (slot + 1) % 4;
    }
    speakText = "Please say 'continue' when finished viewing this page.";
    Say();
    while (commandCode.load() == kCodeResult)
        platform::sleepMs(250);
    platform::consoleClear();
}

} // namespace tutor
