// Calling back on the thread that created an object. A COM component that
// has something to report from a worker thread posts a call to the
// apartment of the thread that created it; the call runs on that thread
// when its loop pumps messages, so the component's client is never called
// from another thread. Windows: a message-only window per thread and a
// posted private message. Linux: the queue that CoInitialize gives the
// thread (libverdelcom's apartment).
#pragma once

namespace platform {

using ApartmentId = void*;

// The calling thread's apartment, or null when it has none (on Linux the
// thread must have called CoInitialize; on Windows the window is made on
// first use).
ApartmentId currentApartment();

// Queues fn(ctx) to run on the apartment's thread when it pumps. Safe from
// any thread. False, and fn is never called, when the apartment is gone.
bool postToApartment(ApartmentId apartment, void (*fn)(void*), void* ctx);

} // namespace platform
