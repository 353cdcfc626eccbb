#include "keyparse.h"

#include "../../common/codepage.h"

#include <algorithm>

namespace platform {
namespace posix {

namespace {

std::string scanKey(int scan) {
    return std::string(1, '\0') + static_cast<char>(scan);
}

// Scan code for the final letter of ESC [ x or ESC O x.
int letterScan(char final) {
    switch (final) {
    case 'A':
        return 72; // Up
    case 'B':
        return 80; // Down
    case 'C':
        return 77; // Right
    case 'D':
        return 75; // Left
    case 'H':
        return 71; // Home
    case 'F':
        return 79; // End
    case 'P':
        return 59; // F1
    case 'Q':
        return 60; // F2
    case 'R':
        return 61; // F3
    case 'S':
        return 62; // F4
    default:
        return -1;
    }
}

// Scan code for ESC [ n ~.
int tildeScan(int n) {
    switch (n) {
    case 1:
    case 7:
        return 71; // Home
    case 2:
        return 82; // Insert
    case 3:
        return 83; // Delete
    case 4:
    case 8:
        return 79; // End
    case 5:
        return 73; // Page Up
    case 6:
        return 81; // Page Down
    case 11:
        return 59;
    case 12:
        return 60;
    case 13:
        return 61;
    case 14:
        return 62;
    case 15:
        return 63;
    case 17:
        return 64;
    case 18:
        return 65;
    case 19:
        return 66;
    case 20:
        return 67;
    case 21:
        return 68;
    case 23:
        return 133;
    case 24:
        return 134;
    default:
        return -1;
    }
}

std::size_t parseEscape(const std::string& b, bool complete, std::string& key) {
    if (b.size() < 2) {
        if (!complete) return 0;
        key = "\x1b";
        return 1;
    }
    const char kind = b[1];
    if (kind != '[' && kind != 'O') { // Escape on its own, then another key
        key = "\x1b";
        return 1;
    }
    // Parameters are digits and ';', then one final byte in 0x40..0x7E.
    std::size_t i = 2;
    while (i < b.size() && ((b[i] >= '0' && b[i] <= '9') || b[i] == ';'))
        ++i;
    if (i >= b.size()) {
        if (!complete) return 0;
        key.clear(); // a cut-off sequence carries no key
        return b.size();
    }
    const char final = b[i];
    int scan = -1;
    if (final == '~') {
        int n = 0;
        // Clamped: no key has a number this large, and a long run of
        // digits must not overflow.
        for (std::size_t j = 2; j < i && b[j] != ';'; ++j)
            n = std::min(n * 10 + (b[j] - '0'), 100000);
        scan = tildeScan(n);
    } else {
        scan = letterScan(final);
    }
    key = scan >= 0 ? scanKey(scan) : std::string();
    return i + 1;
}

} // namespace

std::size_t parseTerminalKey(const std::string& b, bool complete, std::string& key) {
    key.clear();
    if (b.empty()) return 0;
    const unsigned char first = static_cast<unsigned char>(b[0]);
    if (first == 0x1b) return parseEscape(b, complete, key);
    if (first == 0) {
        // Ctrl+2 (Ctrl+@, also Ctrl+Space) sends NUL: a key without a
        // character, so it takes the two-byte form like any other. A lone
        // zero byte would read as half of one.
        key = scanKey(3);
        return 1;
    }
    if (first == 127) { // terminals send DEL for Backspace
        key = "\b";
        return 1;
    }
    if (first < 0x80) {
        key = std::string(1, b[0]);
        return 1;
    }
    char32_t cp = 0;
    std::size_t used = common::decodeUtf8(b, 0, cp);
    if (used == 0) {
        if (!complete) return 0;
        used = b.size(); // a cut-off character is still one key
        cp = 0xFFFD;
    }
    const int byte = common::unicodeToCp1252(cp);
    key = std::string(1, static_cast<char>(byte >= 0 ? byte : common::kUnmappableKey));
    return used;
}

} // namespace posix
} // namespace platform
