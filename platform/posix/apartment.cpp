// The apartment of a thread is the queue that CoInitialize gave it.
#include "../apartment.h"

#include "com/comapi.h"

namespace platform {

ApartmentId currentApartment() {
    return VcomCurrentApartment();
}

bool postToApartment(ApartmentId apartment, void (*fn)(void*), void* ctx) {
    return apartment && fn && VcomApartmentPost(apartment, fn, ctx) == S_OK;
}

} // namespace platform
