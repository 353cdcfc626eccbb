#include "../../common/codepage.h"
#include "../../common/exchangerecord.h"
#include "../../common/hashz.h"
#include "../../common/numbertext.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

TEST(NumberText, FormsOfNumbers) {
    const struct {
        long double value;
        const char* text;
    } cases[] = {
        {0, " 0"},
        {-0.0L, " 0"},
        {12, " 12"},
        {-12, "-12"},
        {897, " 897"},
        {66.6L, " 66.6"},
        {0.5L, " 0.5"},
        {100, " 100"},
        {123456789012345.0L, " 123456789012345"},
        {1e15L, " 1E+15"},
        {-2.5e20L, "-2.5E+20"},
        {1.5e-7L, " 1.5E-07"},
        {std::floor(1000.0L * 2 / 3) / 10, " 66.6"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(common::numberText(c.value), c.text) << c.text;
}

TEST(NumberText, NonFiniteNeverPrintsInfOrNan) {
    EXPECT_EQ(common::numberText(std::numeric_limits<long double>::infinity()), "?");
    EXPECT_EQ(common::numberText(std::numeric_limits<long double>::quiet_NaN()), "?");
}

TEST(NumberText, WholeNumbersWithoutTheFloatingPointFormatter) {
    const std::int64_t cases[] = {
        0,
        1,
        -1,
        43520,
        1504112,
        66233195,
        -2147483647 - 1,
        2147483647,
        999999999999999,  // the last whole number written out
        1000000000000000, // the first in exponent form
        1234567890123456, // rounded up
        1234567890123445, // a tie rounded to even (down)
        1234567890123455, // a tie rounded to even (up)
        9999999999999995, // rounds up into the next power of ten
        -9223372036854775807 - 1,
        9223372036854775807,
    };
    for (const std::int64_t v : cases)
        EXPECT_EQ(common::wholeNumberText(v), common::numberText(static_cast<long double>(v))) << v;
    EXPECT_EQ(common::wholeNumberText(167423), " 167423");
    EXPECT_EQ(common::wholeNumberText(-5), "-5");
    EXPECT_EQ(common::wholeNumberText(1000000000000000), " 1E+15");
}

TEST(ExchangeRecord, ShiftBothWaysOverEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string down = common::shiftDown(all);
    // The tutor's side subtracts 173: byte 0 is stored as 83, 173 as 0, 255 as 82.
    EXPECT_EQ(static_cast<unsigned char>(down[0]), 83);
    EXPECT_EQ(static_cast<unsigned char>(down[173]), 0);
    EXPECT_EQ(static_cast<unsigned char>(down[255]), 82);
    EXPECT_EQ(common::shiftUp(down), all);
    EXPECT_EQ(common::shiftDown(common::shiftUp(all)), all);
}

TEST(ExchangeRecord, TextAfterStamp) {
    EXPECT_EQ(common::recordText("12:34:56chapter 12 "), "chapter 12 ");
    EXPECT_EQ(common::recordText("12:34:56"), "");
    EXPECT_EQ(common::recordText("12:34"), "");
    EXPECT_EQ(common::recordText(""), "");
}

TEST(PositionSums, CountsFromPositionOne) {
    // Positions 1..12 holding the values 1..12.
    std::string bytes;
    for (int i = 1; i <= 12; ++i)
        bytes += static_cast<char>(i);
    const common::PositionSums s = common::positionSums(bytes);
    EXPECT_EQ(s[0], 2u + 4 + 6 + 8 + 10 + 12);
    EXPECT_EQ(s[1], 1u + 3 + 5 + 7 + 9 + 11);
    EXPECT_EQ(s[2], 3u + 6 + 9 + 12);
    EXPECT_EQ(s[3], 5u + 10);
    EXPECT_EQ(s[4], 7u);
    EXPECT_EQ(s[5], 11u);
    EXPECT_EQ(common::positionSums(std::string("\xff", 1))[1], 255u); // bytes are unsigned
}

TEST(CodePage, RoundTripAndGaps) {
    for (int b = 0; b < 256; ++b) {
        const char32_t cp = common::cp1252ToUnicode(static_cast<unsigned char>(b));
        EXPECT_EQ(common::unicodeToCp1252(cp), b) << b;
    }
    EXPECT_EQ(common::cp1252ToUnicode(0x80), U'\u20AC');
    EXPECT_EQ(common::unicodeToCp1252(U'\u2014'), 0x97);
    EXPECT_EQ(common::unicodeToCp1252(U'\U0001F600'), -1);
    EXPECT_EQ(common::unicodeToCp1252(U'\u4E2D'), -1);
}

TEST(CodePage, DisplayNeverPassesControlCharacters) {
    const std::string shown = common::displayUtf8(std::string("a\x1b[2J\b\t\r\n\x7f\x81", 10));
    for (char c : shown) {
        const unsigned char u = static_cast<unsigned char>(c);
        EXPECT_FALSE(u < 32 || u == 127) << static_cast<int>(u);
    }
    EXPECT_EQ(common::displayUtf8("caf\xe9"), "caf\xc3\xa9");
}

TEST(CodePage, DecodeUtf8) {
    const struct {
        std::string bytes;
        std::size_t used;
        char32_t cp;
    } cases[] = {
        {"A", 1, U'A'},
        {"\xc3\xa9", 2, 0xE9},
        {"\xe2\x82\xac", 3, 0x20AC},
        {"\xf0\x9f\x98\x80", 4, 0x1F600},
        {"\xc3", 0, 0},              // incomplete: wait for more
        {"\xf0\x9f", 0, 0},          // incomplete
        {"\xff", 1, 0xFFFD},         // never valid
        {"\xc3(", 1, 0xFFFD},        // broken continuation
        {"\xed\xa0\x80", 3, 0xFFFD}, // surrogate
    };
    for (const auto& c : cases) {
        char32_t cp = 0;
        EXPECT_EQ(common::decodeUtf8(c.bytes, 0, cp), c.used) << c.bytes;
        if (c.used) {
            EXPECT_EQ(cp, c.cp) << c.bytes;
        }
    }
}

TEST(CodePage, UpperCase) {
    EXPECT_EQ(common::upperCp1252("the Quay 12 \xe9\xff\x9a"), "THE QUAY 12 \xc9\x9f\x8a");
    EXPECT_EQ(common::upperCp1252("\xf7\xdf"), "\xf7\xdf"); // division sign, sharp s stay
}

} // namespace
