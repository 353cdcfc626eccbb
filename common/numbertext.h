#pragma once
#include <cstdint>
#include <string>

namespace common {

// The one number form of all programs: a space before values of 0 and above,
// "-" before negative ones, up to 15 significant digits, no trailing zeros
// (a whole number has no decimal point), exponent form ("E+"/"E-") for
// values out of that range. Non-finite values read "?".
std::string numberText(long double value);

// The same form for a whole number, made with integer arithmetic only: a
// program that formats nothing but whole numbers (the installer) then
// carries no floating-point formatter. Equal to numberText(value).
std::string wholeNumberText(std::int64_t value);

} // namespace common
