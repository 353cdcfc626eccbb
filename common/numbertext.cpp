#include "numbertext.h"

#include <cmath>
#include <cstdio>

namespace common {

std::string numberText(long double value) {
    if (!std::isfinite(value)) return "?";
    if (value == 0) return " 0"; // also folds -0
    char digits[64];
    // %Lg with 15 significant digits drops trailing zeros and switches to the
    // exponent form exactly where 15 digits no longer reach.
    std::snprintf(digits, sizeof digits, "%.15Lg", std::fabs(value));
    std::string text = digits;
    for (char& c : text)
        if (c == 'e') c = 'E';
    return (value < 0 ? "-" : " ") + text;
}

} // namespace common
