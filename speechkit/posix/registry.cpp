// Registration in our COM library's store: ProgID -> class id -> this
// library's path.
#include "../registration.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace speechkit {

namespace {

// The absolute path this library was loaded from.
std::string libraryPath() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&libraryPath), &info) || !info.dli_fname)
        return std::string();
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string();
}

} // namespace

HRESULT registerClasses() {
    const std::string path = libraryPath();
    if (path.empty()) return E_FAIL;
    for (const ClassEntry& c : kClasses) {
        const HRESULT hr = VcomRegisterClass(c.clsid, c.progId, path.c_str());
        if (FAILED(hr)) {
            unregisterClasses();
            return hr;
        }
    }
    return S_OK;
}

HRESULT unregisterClasses() {
    for (const ClassEntry& c : kClasses)
        VcomUnregisterClass(c.clsid, c.progId);
    return S_OK;
}

} // namespace speechkit
