#include "apartment_calls.h"

// The COM library provides these when it is linked in; a program without it
// has no apartment.
extern "C" int VcomApartmentFd(void) __attribute__((weak));
extern "C" int VcomApartmentPumpOne(void) __attribute__((weak));

namespace platform {
namespace posix {

int apartmentFd() {
    return VcomApartmentFd != nullptr ? VcomApartmentFd() : -1;
}

bool apartmentPumpOne() {
    return VcomApartmentPumpOne != nullptr && VcomApartmentPumpOne() != 0;
}

} // namespace posix
} // namespace platform
