// Win32 console: output through WriteConsoleW at positions set with the
// console API, keys from console input events. When stdout is not a console
// the text goes out as UTF-8; when stdin is not one there are no keys.
#include "../../common/codepage.h"
#include "../platform.h"
#include "internal.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>

#ifndef ENABLE_VIRTUAL_TERMINAL_INPUT
#define ENABLE_VIRTUAL_TERMINAL_INPUT 0x0200
#endif

namespace platform {

namespace {

std::recursive_mutex consoleLock;

// Set once, under the lock, by the first console call.
bool handlesReady = false;
HANDLE input = INVALID_HANDLE_VALUE;
HANDLE output = INVALID_HANDLE_VALUE;
bool inputIsConsole = false;
bool outputIsConsole = false;

// The input mode before consoleInit, for restoreConsole (which takes no lock).
DWORD savedInputMode = 0;
std::atomic<bool> inputModeChanged{false};

// Column in the output stream when it is not a console (from 1).
int streamColumn = 1;

// Keys taken from the console but not handed out yet. A pasted burst comes
// as many events at once; every one of them waits here for its turn.
std::deque<std::string> pendingKeys;
constexpr std::size_t kMaxPendingKeys = 4096;
// The first half of a character outside the Basic Multilingual Plane, until
// its second half arrives.
wchar_t pendingHighSurrogate = 0;

void ensureHandles() {
    if (handlesReady) return;
    handlesReady = true;
    DWORD mode = 0;
    input = GetStdHandle(STD_INPUT_HANDLE);
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    inputIsConsole =
        input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode) != 0;
    outputIsConsole =
        output != nullptr && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode) != 0;
}

// ---- output ----------------------------------------------------------------

void writeConsole(const std::wstring& text) {
    constexpr std::size_t kChunk = 8192; // old consoles reject very long writes
    std::size_t done = 0;
    while (done < text.size()) {
        const DWORD count = static_cast<DWORD>(std::min(kChunk, text.size() - done));
        DWORD written = 0;
        if (!WriteConsoleW(output, text.data() + done, count, &written, nullptr) || written == 0)
            return; // output gone: nothing sensible left to do
        done += written;
    }
}

void writeStream(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD count = static_cast<DWORD>(std::min<std::size_t>(1 << 20, bytes.size() - done));
        DWORD written = 0;
        if (!WriteFile(output, bytes.data() + done, count, &written, nullptr) || written == 0)
            return;
        done += written;
    }
}

// Writes Windows-1252 text in its display form, then a line break if asked.
void writeText(const std::string& text, bool newline) {
    if (outputIsConsole) {
        std::wstring wide;
        wide.reserve(text.size() + 2);
        // Every display code point lies in the Basic Multilingual Plane.
        for (char c : text)
            wide += static_cast<wchar_t>(common::displayCodePoint(static_cast<unsigned char>(c)));
        if (newline) wide += L"\r\n";
        writeConsole(wide);
        return;
    }
    std::string bytes = common::displayUtf8(text);
    if (newline) {
        bytes += "\r\n";
        streamColumn = 1;
    } else {
        streamColumn += static_cast<int>(text.size());
    }
    writeStream(bytes);
}

bool screenInfo(CONSOLE_SCREEN_BUFFER_INFO& info) {
    return outputIsConsole && GetConsoleScreenBufferInfo(output, &info) != 0;
}

SHORT clampTo(long value, SHORT low, SHORT high) {
    if (value < low) return low;
    if (value > high) return high;
    return static_cast<SHORT>(value);
}

// Cursor to a row and column of the visible window (both from 1), kept inside
// the buffer as a terminal keeps it inside the screen.
void moveCursor(const CONSOLE_SCREEN_BUFFER_INFO& info, long row, long column) {
    COORD at;
    at.X = clampTo(info.srWindow.Left + column - 1, 0, static_cast<SHORT>(info.dwSize.X - 1));
    at.Y = clampTo(info.srWindow.Top + row - 1, 0, static_cast<SHORT>(info.dwSize.Y - 1));
    SetConsoleCursorPosition(output, at);
}

// ---- keys ------------------------------------------------------------------

void queueKey(const std::string& key, WORD repeat) {
    if (repeat == 0) repeat = 1;
    for (WORD i = 0; i < repeat && pendingKeys.size() < kMaxPendingKeys; ++i)
        pendingKeys.push_back(key);
}

std::string unmappableKey() {
    return std::string(1, static_cast<char>(common::kUnmappableKey));
}

void takeCharacter(wchar_t ch, WORD repeat) {
    if (IS_HIGH_SURROGATE(ch)) {
        if (pendingHighSurrogate != 0) queueKey(unmappableKey(), 1); // its partner never came
        pendingHighSurrogate = ch;
        return;
    }
    if (IS_LOW_SURROGATE(ch)) {
        // With the high half before it this is one character beyond the code
        // page; a stray low half is one unmappable key as well.
        pendingHighSurrogate = 0;
        queueKey(unmappableKey(), repeat);
        return;
    }
    if (pendingHighSurrogate != 0) {
        pendingHighSurrogate = 0;
        queueKey(unmappableKey(), 1);
    }
    const int byte = common::unicodeToCp1252(static_cast<char32_t>(ch));
    queueKey(byte >= 0 ? std::string(1, static_cast<char>(byte)) : unmappableKey(), repeat);
}

bool isModifierKey(WORD vk) {
    switch (vk) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
        return true;
    default:
        return false;
    }
}

void takeEvent(const INPUT_RECORD& record) {
    if (record.EventType != KEY_EVENT) return;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    const WORD vk = key.wVirtualKeyCode;
    const wchar_t ch = key.uChar.UnicodeChar;
    if (!key.bKeyDown) {
        // A character entered as Alt + digits on the keypad comes with the
        // release of Alt.
        if (vk == VK_MENU && ch != 0) takeCharacter(ch, 1);
        return;
    }
    if (isModifierKey(vk)) return;
    if (ch != 0) {
        takeCharacter(ch, key.wRepeatCount);
        return;
    }
    // Keys that have a character even when the console reports none.
    switch (vk) {
    case VK_ESCAPE:
        queueKey("\x1b", key.wRepeatCount);
        return;
    case VK_BACK:
        queueKey("\b", key.wRepeatCount);
        return;
    case VK_RETURN:
        queueKey("\r", key.wRepeatCount);
        return;
    case VK_TAB:
        queueKey("\t", key.wRepeatCount);
        return;
    default:
        break;
    }
    UINT scan = key.wVirtualScanCode;
    if (scan == 0) scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    if (scan == 0) return; // nothing that names a key
    queueKey(std::string(1, '\0') + static_cast<char>(scan & 0xFF), key.wRepeatCount);
}

// Moves every event the console holds into pendingKeys without blocking.
// Returns how many events it took.
DWORD drainInput() {
    if (!inputIsConsole) return 0;
    // Wine's console looks at the terminal only while the input handle is
    // waited on or read; a wait of zero lets it pick up what has arrived.
    WaitForSingleObject(input, 0);
    DWORD taken = 0;
    for (;;) {
        DWORD available = 0;
        if (!GetNumberOfConsoleInputEvents(input, &available) || available == 0) return taken;
        INPUT_RECORD records[64];
        DWORD count = 0;
        if (!ReadConsoleInputW(input, records, 64, &count) || count == 0) return taken;
        for (DWORD i = 0; i < count; ++i)
            takeEvent(records[i]);
        taken += count;
    }
}

std::string popKey() {
    if (pendingKeys.empty()) return std::string();
    std::string key = pendingKeys.front();
    pendingKeys.pop_front();
    return key;
}

BOOL WINAPI onConsoleControl(DWORD) {
    win32::restoreConsole();
    return FALSE; // the default handler ends the process
}

void onExit() {
    win32::restoreConsole();
}

} // namespace

namespace win32 {
void restoreConsole() {
    if (inputModeChanged.exchange(false)) SetConsoleMode(input, savedInputMode);
}
} // namespace win32

void consoleInit() {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    ensureHandles();
    if (outputIsConsole) {
        DWORD mode = 0;
        if (GetConsoleMode(output, &mode)) SetConsoleMode(output, mode | ENABLE_PROCESSED_OUTPUT);
    }
    if (!inputIsConsole || inputModeChanged) return;
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) return;
    // Restoring with the extended flag brings quick edit back as it was.
    savedInputMode = mode | ENABLE_EXTENDED_FLAGS;
    // Key events one by one, no echo, and no mouse selection that would
    // freeze our output. Ctrl+C still ends the program.
    DWORD raw = mode | ENABLE_EXTENDED_FLAGS;
    raw &= ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                               ENABLE_MOUSE_INPUT | ENABLE_VIRTUAL_TERMINAL_INPUT);
    if (!SetConsoleMode(input, raw)) return;
    inputModeChanged = true;
    std::atexit(onExit);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void consolePrint(const std::string& text, bool newline) {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    ensureHandles();
    writeText(text, newline);
}

void consoleGoto(int row, int column) {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    ensureHandles();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (screenInfo(info)) moveCursor(info, row, column);
}

void consoleToColumn(int column) {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    ensureHandles();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (screenInfo(info)) {
        if (info.dwCursorPosition.X - info.srWindow.Left + 1 > column) {
            writeText(std::string(), true);
            if (!screenInfo(info)) return;
        }
        moveCursor(info, info.dwCursorPosition.Y - info.srWindow.Top + 1, column);
        return;
    }
    if (outputIsConsole) return;
    // A stream has no cursor: a line break and spaces do the same job.
    if (streamColumn > column) writeText(std::string(), true);
    if (column > streamColumn) writeText(std::string(column - streamColumn, ' '), false);
}

void consoleClear() {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    ensureHandles();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!screenInfo(info)) {
        if (!outputIsConsole && streamColumn > 1) writeText(std::string(), true);
        return;
    }
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    const COORD origin = {0, 0};
    DWORD done = 0;
    FillConsoleOutputCharacterW(output, L' ', cells, origin, &done);
    FillConsoleOutputAttribute(output, info.wAttributes, cells, origin, &done);
    // The window back to the top of the buffer, the cursor to its corner.
    SMALL_RECT window;
    window.Left = 0;
    window.Top = 0;
    window.Right = static_cast<SHORT>(info.srWindow.Right - info.srWindow.Left);
    window.Bottom = static_cast<SHORT>(info.srWindow.Bottom - info.srWindow.Top);
    SetConsoleWindowInfo(output, TRUE, &window);
    SetConsoleCursorPosition(output, origin);
}

void consolePrintAtKeepCursor(int row, int column, const std::string& text) {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    ensureHandles();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!screenInfo(info)) return; // a stream has no place to put it
    moveCursor(info, row, column);
    writeText(text, false);
    SetConsoleCursorPosition(output, info.dwCursorPosition);
}

std::string consoleReadKey() {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    ensureHandles();
    if (pendingKeys.empty()) drainInput();
    return popKey();
}

std::string consoleWaitKey(int timeoutMs) {
    if (timeoutMs < 0) timeoutMs = 0;
    {
        std::lock_guard<std::recursive_mutex> hold(consoleLock);
        ensureHandles();
        if (pendingKeys.empty()) drainInput();
        if (!pendingKeys.empty()) return popKey();
    }
    if (!inputIsConsole) { // no keyboard: just let the time pass
        Sleep(static_cast<DWORD>(timeoutMs));
        return std::string();
    }
    // Wait outside the lock so the other thread can write meanwhile. Events
    // that are no key (key releases, focus, ...) wake the wait too; then it
    // goes on for the rest of the time.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const DWORD waited = WaitForSingleObject(input, left > 0 ? static_cast<DWORD>(left) : 0);
        DWORD taken;
        {
            std::lock_guard<std::recursive_mutex> hold(consoleLock);
            taken = drainInput();
            if (!pendingKeys.empty()) return popKey();
        }
        if (waited != WAIT_OBJECT_0 || left <= 0) return std::string();
        if (taken == 0) Sleep(1); // signalled with nothing to read: do not spin
    }
}

} // namespace platform
