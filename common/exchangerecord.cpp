#include "exchangerecord.h"

namespace common {

namespace {
std::string shifted(const std::string& bytes, int by) {
    std::string out(bytes.size(), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out[i] = static_cast<char>((static_cast<unsigned char>(bytes[i]) + by + 256) % 256);
    return out;
}
} // namespace

std::string shiftDown(const std::string& bytes) {
    return shifted(bytes, -kExchangeShift);
}
std::string shiftUp(const std::string& bytes) {
    return shifted(bytes, kExchangeShift);
}

std::string recordText(const std::string& record) {
    return record.size() > kStampLength ? record.substr(kStampLength) : std::string();
}

} // namespace common
