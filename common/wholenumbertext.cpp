// Kept apart from numberText so that a program that needs only whole numbers
// (the installer) links no floating-point formatter.
#include "numbertext.h"

namespace common {

std::string wholeNumberText(std::int64_t value) {
    if (value == 0) return " 0";
    std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    char digits[24];
    int count = 0;
    for (std::uint64_t rest = magnitude; rest != 0; rest /= 10)
        digits[count++] = static_cast<char>('0' + rest % 10);
    std::string text;
    if (count <= 15) {
        while (count > 0)
            text += digits[--count];
    } else {
        // 15 significant digits, an exact tie rounded to even, as the
        // floating-point formatter rounds; then the exponent form.
        std::uint64_t scale = 1;
        for (int i = 15; i < count; ++i)
            scale *= 10;
        std::uint64_t kept = magnitude / scale;
        const std::uint64_t dropped = magnitude % scale;
        if (dropped > scale / 2 || (dropped == scale / 2 && (kept & 1) != 0)) ++kept;
        int exponent = count - 1;
        if (kept == 1000000000000000ULL) {
            kept /= 10;
            ++exponent;
        }
        while (kept % 10 == 0)
            kept /= 10;
        std::string mantissa;
        for (; kept != 0; kept /= 10)
            mantissa.insert(mantissa.begin(), static_cast<char>('0' + kept % 10));
        text = mantissa.substr(0, 1);
        if (mantissa.size() > 1) text += "." + mantissa.substr(1);
        text += "E+";
        text += static_cast<char>('0' + exponent / 10);
        text += static_cast<char>('0' + exponent % 10);
    }
    return (value < 0 ? "-" : " ") + text;
}

} // namespace common
