// CoInitialize, CoUninitialize and the apartments' call queues.
//
// An apartment is shared between its thread and every thread that posts to
// it, so it is reference counted (std::shared_ptr). Posters know it only by
// a handle, a number never used twice, which they look up in a table under
// a lock: a handle whose apartment has gone finds nothing, so a late post
// fails instead of writing to freed memory.
#include "internal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

struct Apartment {
    struct Call {
        void (*fn)(void*);
        void* ctx;
    };
    std::mutex lock;
    std::deque<Call> calls; // guarded by lock
    bool open = true;       // guarded by lock
    // Holds a non-zero count exactly while calls are queued (kept in step
    // with the queue under the lock), so it polls readable while there is
    // work. Closed only when the last reference goes, so a descriptor number
    // is never reused while a poster might still write to it.
    int event = -1;
    ~Apartment() {
        if (event >= 0) ::close(event);
    }
    void signal() {
        const uint64_t one = 1;
        while (::write(event, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    void drain() {
        uint64_t count;
        while (::read(event, &count, sizeof count) < 0 && errno == EINTR) {
        }
    }
};

// Never destroyed: threads may post while the process exits.
struct Table {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<Apartment>> apartments;
    uintptr_t next = 1;
};
Table& table() {
    static auto* t = new Table;
    return *t;
}

void closeApartment(uintptr_t handle, const std::shared_ptr<Apartment>& apartment) {
    {
        std::lock_guard<std::mutex> hold(table().lock);
        table().apartments.erase(handle);
    }
    std::lock_guard<std::mutex> hold(apartment->lock);
    apartment->open = false;
    if (!apartment->calls.empty()) apartment->drain();
    apartment->calls.clear(); // dropped, as posted messages die with a window
}

// The calling thread's COM state; ends the apartment if the thread ends
// without CoUninitialize.
struct ThreadState {
    int initialisations = 0;
    bool multithreaded = false;
    uintptr_t handle = 0;
    std::shared_ptr<Apartment> apartment;
    ~ThreadState() {
        if (apartment) closeApartment(handle, apartment);
    }
};
thread_local ThreadState state;

} // namespace

bool vcom::threadInitialised() {
    return state.initialisations > 0;
}

extern "C" VCOM_EXPORT HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    const DWORD known =
        COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
    if (pvReserved || (dwCoInit & ~known)) return E_INVALIDARG;
    const bool multithreaded = !(dwCoInit & COINIT_APARTMENTTHREADED);
    if (state.initialisations > 0) {
        if (state.multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
        ++state.initialisations;
        return S_FALSE;
    }
    // Every initialised thread gets a queue of its own, whatever its model:
    // there is no shared multithreaded apartment here.
    auto apartment = std::make_shared<Apartment>();
    apartment->event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (apartment->event < 0) return E_OUTOFMEMORY;
    uintptr_t handle;
    {
        std::lock_guard<std::mutex> hold(table().lock);
        handle = table().next++;
        table().apartments[handle] = apartment;
    }
    state.initialisations = 1;
    state.multithreaded = multithreaded;
    state.handle = handle;
    state.apartment = apartment;
    return S_OK;
}

extern "C" VCOM_EXPORT HRESULT CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

extern "C" VCOM_EXPORT void CoUninitialize(void) {
    if (state.initialisations == 0 || --state.initialisations > 0) return;
    closeApartment(state.handle, state.apartment);
    state.apartment.reset();
    state.handle = 0;
}

extern "C" VCOM_EXPORT void* VcomCurrentApartment(void) {
    return state.apartment ? reinterpret_cast<void*>(state.handle) : nullptr;
}

extern "C" VCOM_EXPORT HRESULT VcomApartmentPost(void* apartment, void (*fn)(void* ctx),
                                                 void* ctx) {
    if (!fn) return E_INVALIDARG;
    std::shared_ptr<Apartment> target;
    {
        std::lock_guard<std::mutex> hold(table().lock);
        auto found = table().apartments.find(reinterpret_cast<uintptr_t>(apartment));
        if (found == table().apartments.end()) return E_FAIL;
        target = found->second;
    }
    std::lock_guard<std::mutex> hold(target->lock);
    if (!target->open) return E_FAIL;
    target->calls.push_back({fn, ctx});
    if (target->calls.size() == 1) target->signal();
    return S_OK;
}

extern "C" VCOM_EXPORT int VcomApartmentFd(void) {
    return state.apartment ? state.apartment->event : -1;
}

extern "C" VCOM_EXPORT int VcomApartmentPumpOne(void) {
    Apartment* apartment = state.apartment.get();
    if (!apartment) return 0;
    Apartment::Call call;
    {
        std::lock_guard<std::mutex> hold(apartment->lock);
        if (apartment->calls.empty()) return 0;
        call = apartment->calls.front();
        apartment->calls.pop_front();
        if (apartment->calls.empty()) apartment->drain();
    }
    call.fn(call.ctx); // unlocked: the call may post again, or uninitialise
    return 1;
}
