#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace common {

// Position-class byte sums, positions counted from 1: over even positions,
// odd positions, and multiples of 3, 5, 7 and 11. The book check uses all
// six, the installer's chunk check the first three.
using PositionSums = std::array<std::uint64_t, 6>;
PositionSums positionSums(const std::string& bytes);

} // namespace common
