// Stand-in for the apartment interface of the COM work (platform/apartment.h)
// until it is in this tree: the same two calls, Windows only. The build uses
// the real header as soon as it exists.
#pragma once

namespace platform {

using ApartmentId = void*;

// The calling thread's apartment (a message-only window made on first use).
ApartmentId currentApartment();
// Runs call(context) on the apartment's thread when it next pumps messages.
bool postToApartment(ApartmentId apartment, void (*call)(void*), void* context);

} // namespace platform
