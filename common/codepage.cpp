#include "codepage.h"

namespace common {

namespace {
// 0x80..0x9F; zero marks the five unassigned bytes.
const char32_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
} // namespace

char32_t cp1252ToUnicode(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F && kHigh[byte - 0x80] != 0) return kHigh[byte - 0x80];
    return byte;
}

int unicodeToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    if (cp >= 0x80 && cp <= 0x9F && kHigh[cp - 0x80] == 0) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] != 0 && kHigh[i] == cp) return 0x80 + i;
    return -1;
}

char32_t displayCodePoint(unsigned char byte) {
    if (byte < 32 || byte == 127) return 0x00B7;
    if (byte >= 0x80 && byte <= 0x9F && kHigh[byte - 0x80] == 0) return 0xFFFD;
    return cp1252ToUnicode(byte);
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string displayUtf8(const std::string& cp1252) {
    std::string out;
    out.reserve(cp1252.size());
    for (char c : cp1252)
        appendUtf8(out, displayCodePoint(static_cast<unsigned char>(c)));
    return out;
}

std::size_t decodeUtf8(const std::string& bytes, std::size_t pos, char32_t& cp) {
    const unsigned char lead = static_cast<unsigned char>(bytes[pos]);
    std::size_t length;
    char32_t value;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        cp = 0xFFFD;
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (pos + i >= bytes.size()) return 0;
        const unsigned char next = static_cast<unsigned char>(bytes[pos + i]);
        if ((next & 0xC0) != 0x80) {
            cp = 0xFFFD;
            return 1;
        }
        value = (value << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
    if (overlong || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        cp = 0xFFFD;
        return length;
    }
    cp = value;
    return length;
}

std::string upperCp1252(const std::string& text) {
    std::string out = text;
    for (char& ch : out) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
            ch = static_cast<char>(c - 0x20);
        else if (c == 0x9A || c == 0x9C || c == 0x9E)
            ch = static_cast<char>(c - 0x10);
        else if (c == 0xFF)
            ch = static_cast<char>(0x9F);
    }
    return out;
}
} // namespace common
