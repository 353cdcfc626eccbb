// The Linux side of the test component: environment, and the library's
// entry points with their entries in our COM library's registration store.
#include "testkit.h"

#include "../../common/codepage.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace testkit {

namespace {
struct ClassEntry {
    const CLSID* clsid;
    const char* progId;
};
const ClassEntry kClasses[] = {{&kSynthesiserClsid, kSynthesiserProgId},
                               {&kRecogniserClsid, kRecogniserProgId}};
} // namespace

std::string envValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace testkit

using namespace testkit;

#ifndef TESTKIT_NO_FACTORY
extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    return getClassObject(clsid, riid, object);
}
#endif

extern "C" HRESULT DllCanUnloadNow(void) {
    return moduleLocks() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT DllRegisterServer(void) {
    char path[4096];
    if (VcomLibraryPath(reinterpret_cast<const void*>(&DllCanUnloadNow), path, sizeof path) != S_OK)
        return SELFREG_E_CLASS;
    for (const ClassEntry& entry : kClasses) {
        const std::u16string progId = common::utf16FromCp1252<char16_t>(entry.progId);
        const HRESULT hr = VcomRegisterClass(progId.c_str(), *entry.clsid, path);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

extern "C" HRESULT DllUnregisterServer(void) {
    for (const ClassEntry& entry : kClasses)
        VcomUnregisterClass(*entry.clsid);
    return S_OK;
}
