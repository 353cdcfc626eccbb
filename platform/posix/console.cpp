// Terminal console: raw keyboard through termios, output as UTF-8 with ANSI
// cursor sequences. The cursor column is tracked here, since the terminal
// cannot be asked for it without reading its answer from the keyboard.
#include "../../common/codepage.h"
#include "../platform.h"
#include "internal.h"
#include "keyparse.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {

std::recursive_mutex consoleLock;
struct termios savedMode;
volatile sig_atomic_t rawActive = 0;
bool keysAvailable = false; // stdin is a terminal that has not hit its end
int column = 1;             // cursor column as tracked from our own output
std::string keyBytes;       // bytes read from the terminal, not yet a key

int terminalWidth() {
    struct winsize ws {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

void writeAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // output gone: nothing sensible left to do
        done += static_cast<std::size_t>(n);
    }
}

void onFatalSignal(int sig) {
    posix::restoreConsole();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void onExit() {
    posix::restoreConsole();
}

// Moves bytes the terminal has sent into keyBytes, waiting up to timeoutMs.
void fillKeyBytes(int timeoutMs) {
    if (!keysAvailable) return;
    struct pollfd p {
        STDIN_FILENO, POLLIN, 0
    };
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready <= 0) return;
    char buffer[512];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0) {
        keyBytes.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        keysAvailable = false; // end of input: no more keys, and no busy polling
    }
}

std::string takeKey() {
    while (!keyBytes.empty()) {
        std::string key;
        std::size_t used = posix::parseTerminalKey(keyBytes, false, key);
        if (used == 0) {
            // Inside an escape or UTF-8 sequence: the rest follows at once
            // when it comes from one key, so a short wait settles it.
            fillKeyBytes(30);
            used = posix::parseTerminalKey(keyBytes, true, key);
        }
        keyBytes.erase(0, used);
        if (!key.empty()) return key;
    }
    return std::string();
}

} // namespace

namespace posix {
void restoreConsole() {
    if (rawActive) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
        rawActive = 0;
    }
}
} // namespace posix

void consoleInit() {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedMode) != 0) return;
    struct termios raw = savedMode;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IXON);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
    rawActive = 1;
    keysAvailable = true;
    std::atexit(onExit);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        std::signal(sig, onFatalSignal);
}

void consolePrint(const std::string& text, bool newline) {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    std::string out = common::displayUtf8(text);
    if (newline) {
        out += "\n";
        column = 1;
    } else {
        const int width = terminalWidth();
        column = static_cast<int>((column - 1 + static_cast<long>(text.size())) % width) + 1;
    }
    writeAll(out);
}

void consoleGoto(int row, int col) {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    writeAll("\x1b[" + std::to_string(row) + ";" + std::to_string(col) + "H");
    column = col;
}

void consoleToColumn(int col) {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    std::string out;
    if (column > col) out += "\n";
    out += "\x1b[" + std::to_string(col) + "G";
    writeAll(out);
    column = col;
}

void consoleClear() {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    writeAll("\x1b[2J\x1b[H");
    column = 1;
}

void consolePrintAtKeepCursor(int row, int col, const std::string& text) {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    writeAll("\x1b"
             "7\x1b[" +
             std::to_string(row) + ";" + std::to_string(col) + "H" + common::displayUtf8(text) +
             "\x1b"
             "8");
}

std::string consoleReadKey() {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    if (keyBytes.empty()) fillKeyBytes(0);
    return takeKey();
}

std::string consoleWaitKey(int timeoutMs) {
    bool keyboard;
    {
        std::lock_guard<std::recursive_mutex> hold(consoleLock);
        if (keyBytes.empty()) fillKeyBytes(0);
        std::string key = takeKey();
        if (!key.empty()) return key;
        keyboard = keysAvailable;
    }
    // Wait outside the lock so the other thread can write meanwhile.
    if (keyboard) {
        struct pollfd p {
            STDIN_FILENO, POLLIN, 0
        };
        ::poll(&p, 1, timeoutMs);
    } else {
        struct timespec ts {
            timeoutMs / 1000, (timeoutMs % 1000) * 1000000L
        };
        nanosleep(&ts, nullptr);
    }
    return consoleReadKey();
}

} // namespace platform
