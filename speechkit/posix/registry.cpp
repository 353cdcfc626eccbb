// Registration in our COM library's store: ProgID -> class id -> this
// library's path.
#include "../registration.h"

#include <string>

namespace speechkit {

HRESULT registerClasses() {
    char path[4096];
    if (FAILED(VcomLibraryPath(reinterpret_cast<const void*>(&registerClasses), path, sizeof path)))
        return E_FAIL;
    for (const ClassEntry& c : kClasses) {
        const std::string ascii(c.progId);
        const std::u16string progId(ascii.begin(), ascii.end());
        const HRESULT hr = VcomRegisterClass(progId.c_str(), *c.clsid, path);
        if (FAILED(hr)) {
            unregisterClasses();
            return hr;
        }
    }
    return S_OK;
}

// Removing our classes takes their ProgIDs with them; a ProgID that has
// moved to another class since stays with it.
HRESULT unregisterClasses() {
    HRESULT result = S_OK;
    for (const ClassEntry& c : kClasses)
        if (FAILED(VcomUnregisterClass(*c.clsid))) result = SELFREG_E_CLASS;
    return result;
}

} // namespace speechkit
