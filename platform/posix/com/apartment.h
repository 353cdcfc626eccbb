// The apartment: CoInitialize gives the calling thread a queue of calls. A
// component that has something to report from a worker thread posts a call
// to the apartment of the thread that created it; the call runs on that
// thread when its loop pumps, so an event sink is never called from another
// thread (on Windows a component posts to a message-only window instead).
//
// An apartment is known by an opaque handle that stays safe to post to after
// the apartment is gone: the post then fails and nothing is written.
#pragma once

#include "comapi.h"

extern "C" {
// The apartment of the calling thread (set up by CoInitialize), or null.
VCOM_EXPORT void* VcomCurrentApartment(void);
// Queues fn(ctx) to run on the apartment's thread when it pumps; S_OK, or
// E_FAIL when the apartment is gone (after CoUninitialize), in which case fn
// is not called. E_INVALIDARG without fn. Safe from any thread. Calls still
// queued when the apartment ends are dropped without being run.
VCOM_EXPORT HRESULT VcomApartmentPost(void* apartment, void (*fn)(void* ctx), void* ctx);
// For the calling thread's apartment: a descriptor that is readable while
// calls are queued (-1 when the thread has none). Suitable for poll() and for
// a GLib GSource (g_unix_fd_add). Only poll it; it is closed once the
// apartment is gone.
VCOM_EXPORT int VcomApartmentFd(void);
// Runs one queued call of the calling thread's apartment; 1 if it ran one, 0
// if none was queued.
VCOM_EXPORT int VcomApartmentPumpOne(void);
}
