#include "harness.h"

#include "tests/unit/testutil.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

// The COM library's apartment queue of this thread.
extern "C" int VcomApartmentPumpOne(void);

namespace harness {

namespace {
bool g_registered = false;

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string storeDirectory() {
    static const std::string dir = testutil::scratchDir("speechkit-store");
    return dir;
}
} // namespace

// The classes are registered with verdel-regsvr into a store of this test
// program's own (XDG_DATA_HOME), as the installer registers them.
bool setUp(std::string& why) {
    CoInitialize(nullptr);
    if (!g_registered) {
        setenv("XDG_DATA_HOME", storeDirectory().c_str(), 1);
        if (registerTool(false) != 0) {
            why = "verdel-regsvr could not register " SPEECHKIT_LIBRARY;
            return false;
        }
        g_registered = true;
    }
    return true;
}

void tearDown() {}

IDispatch* create(const char* progId, const CLSID&) {
    CLSID clsid;
    if (FAILED(classIdOf(progId, clsid))) return nullptr;
    IDispatch* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IDispatch, reinterpret_cast<void**>(&object))))
        return nullptr;
    return object;
}

void pumpFor(int ms) {
    pumpUntil([] { return false; }, ms);
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (VcomApartmentPumpOne() != 0) {
        }
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

HRESULT canUnloadNow() {
    void* library = dlopen(SPEECHKIT_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (!library) return S_OK; // never loaded
    using CanUnload = HRESULT (*)();
    auto fn = reinterpret_cast<CanUnload>(dlsym(library, "DllCanUnloadNow"));
    const HRESULT hr = fn ? fn() : E_FAIL;
    dlclose(library);
    return hr;
}

void setEnvironment(const char* name, const std::string& value) {
    if (value.empty())
        unsetenv(name);
    else
        setenv(name, value.c_str(), 1);
}

unsigned long currentThreadId() {
    return static_cast<unsigned long>(syscall(SYS_gettid));
}

bool hideVoices(const std::string& emptyDir) {
    setenv("ESPEAK_DATA_PATH", emptyDir.c_str(), 1);
    return true;
}

int registerTool(bool unregister) {
    return run(std::string(SPEECHKIT_REGSVR) + (unregister ? " -u '" : " '") + SPEECHKIT_LIBRARY +
               "' >/dev/null");
}

HRESULT classIdOf(const char* progId, CLSID& clsid) {
    const std::string ascii(progId);
    const std::u16string wide(ascii.begin(), ascii.end());
    return CLSIDFromProgID(reinterpret_cast<LPCOLESTR>(wide.c_str()), &clsid);
}

// The registration test works on a store of its own.
struct SavedRegistrations {
    std::string store;
};

SavedRegistrations* saveRegistrations() {
    auto* saved = new SavedRegistrations{storeDirectory()};
    setenv("XDG_DATA_HOME", testutil::scratchDir("speechkit-roundtrip").c_str(), 1);
    return saved;
}

void restoreRegistrations(SavedRegistrations* saved) {
    setenv("XDG_DATA_HOME", saved->store.c_str(), 1);
    delete saved;
}

} // namespace harness
