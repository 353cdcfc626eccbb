#include "hashz.h"

namespace common {

PositionSums positionSums(const std::string& bytes) {
    PositionSums sums{};
    for (std::size_t i = 1; i <= bytes.size(); ++i) {
        const std::uint64_t c = static_cast<unsigned char>(bytes[i - 1]);
        sums[i % 2 == 0 ? 0 : 1] += c;
        if (i % 3 == 0) sums[2] += c;
        if (i % 5 == 0) sums[3] += c;
        if (i % 7 == 0) sums[4] += c;
        if (i % 11 == 0) sums[5] += c;
    }
    return sums;
}

} // namespace common
