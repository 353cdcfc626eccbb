#pragma once
#include <string>

namespace common {

// Every byte of an exchange record is stored shifted by this, modulo 256.
constexpr int kExchangeShift = 173;
// Length of the "HH:MM:SS" time stamp that starts every record.
constexpr std::size_t kStampLength = 8;
// Longest record either side reads.
constexpr std::size_t kExchangeReadLimit = 65536;

// The tutor subtracts the shift when it writes and also when it reads; the
// listening window adds it both ways. So the tutor's encode is the window's
// decode and the other way round.
std::string shiftDown(const std::string& bytes);
std::string shiftUp(const std::string& bytes);

// The text after the stamp; empty when the record is no longer than a stamp.
std::string recordText(const std::string& record);

} // namespace common
