#pragma once
#include <cstddef>
#include <string>

namespace common {

// A typed character that Windows-1252 cannot hold arrives as this one byte:
// it is unassigned in the code page, so it never equals a book character.
constexpr unsigned char kUnmappableKey = 0x81;

// The Unicode code point of a Windows-1252 byte (unassigned bytes map to
// themselves, as the system's own conversion does).
char32_t cp1252ToUnicode(unsigned char byte);
// The Windows-1252 byte of a code point, or -1 when it has none.
int unicodeToCp1252(char32_t codePoint);

// The code point shown on screen for a byte: control characters become a
// middle dot and unassigned bytes a replacement mark, so no typed key can
// move the cursor or reach the terminal as a control sequence.
char32_t displayCodePoint(unsigned char byte);

void appendUtf8(std::string& out, char32_t codePoint);
// Display form of a Windows-1252 string in UTF-8.
std::string displayUtf8(const std::string& cp1252);

// Decodes one UTF-8 sequence at bytes[pos]. Returns the number of bytes it
// spans (0 when the sequence is incomplete so far, more bytes may follow);
// an invalid byte counts as a one-byte sequence with codePoint U+FFFD.
std::size_t decodeUtf8(const std::string& bytes, std::size_t pos, char32_t& codePoint);

// Upper case of a Windows-1252 string, letters with accents included.
std::string upperCp1252(const std::string& text);

// A Windows-1252 string as UTF-16 in the 16-bit character type the caller
// uses (wchar_t on Windows, char16_t elsewhere). Every character of the code
// page lies in the Basic Multilingual Plane.
template <typename Char16> std::basic_string<Char16> utf16FromCp1252(const std::string& cp1252) {
    static_assert(sizeof(Char16) == 2, "UTF-16 code units");
    std::basic_string<Char16> out;
    out.reserve(cp1252.size());
    for (char c : cp1252)
        out += static_cast<Char16>(cp1252ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

// UTF-16 as Windows-1252; a character the code page cannot hold (a surrogate
// pair counts as one character) becomes '?'.
template <typename Char16> std::string cp1252FromUtf16(const Char16* text, std::size_t length) {
    static_assert(sizeof(Char16) == 2, "UTF-16 code units");
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const char32_t unit = static_cast<char16_t>(text[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length &&
            static_cast<char16_t>(text[i + 1]) >= 0xDC00 &&
            static_cast<char16_t>(text[i + 1]) <= 0xDFFF)
            ++i;
        const int byte = unicodeToCp1252(unit); // none for a surrogate
        out += byte >= 0 ? static_cast<char>(byte) : '?';
    }
    return out;
}
} // namespace common
