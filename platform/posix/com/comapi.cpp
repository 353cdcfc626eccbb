// Class ids, ProgIDs, task memory and the creation of objects from
// in-process server libraries.
#include "internal.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

extern "C" {
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ITypeInfo = {
    0x00020401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnectionPoints = {
    0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IConnectionPoint = {
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnections = {
    0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
}

namespace vcom {

size_t textLength(const OLECHAR* s) {
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

std::string guidText(REFGUID g) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "{";
    auto put = [&](uint64_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i)
            out += hex[(value >> (4 * i)) & 0xF];
    };
    put(g.Data1, 8);
    out += '-';
    put(g.Data2, 4);
    out += '-';
    put(g.Data3, 4);
    out += '-';
    put(g.Data4[0], 2);
    put(g.Data4[1], 2);
    out += '-';
    for (int i = 2; i < 8; ++i)
        put(g.Data4[i], 2);
    out += '}';
    return out;
}

namespace {
template <typename Char> bool parseGuidText(const Char* s, size_t n, GUID& out) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (n != 38 || s[0] != '{' || s[37] != '}') return false;
    for (size_t dash : {9u, 14u, 19u, 24u})
        if (s[dash] != '-') return false;
    size_t at = 1;
    auto hex = [&](int digits, uint64_t& value) {
        value = 0;
        for (int i = 0; i < digits; ++i, ++at) {
            if (at == 9 || at == 14 || at == 19 || at == 24) ++at; // the dashes
            const Char c = s[at];
            int v;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if (c >= 'a' && c <= 'f')
                v = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                v = c - 'A' + 10;
            else
                return false;
            value = (value << 4) | static_cast<uint64_t>(v);
        }
        return true;
    };
    uint64_t v;
    GUID g;
    if (!hex(8, v)) return false;
    g.Data1 = static_cast<uint32_t>(v);
    if (!hex(4, v)) return false;
    g.Data2 = static_cast<uint16_t>(v);
    if (!hex(4, v)) return false;
    g.Data3 = static_cast<uint16_t>(v);
    for (int i = 0; i < 8; ++i) {
        if (!hex(2, v)) return false;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    out = g;
    return true;
}
} // namespace

bool parseGuid(const char* text, size_t length, GUID& out) {
    return parseGuidText(text, length, out);
}
bool parseGuid(const OLECHAR* text, size_t length, GUID& out) {
    return parseGuidText(text, length, out);
}

} // namespace vcom

using vcom::textLength;

// ---- class ids -------------------------------------------------------------------

extern "C" VCOM_EXPORT int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < 39) return 0;
    const std::string text = vcom::guidText(rguid);
    for (size_t i = 0; i < text.size(); ++i)
        lpsz[i] = static_cast<OLECHAR>(text[i]);
    lpsz[text.size()] = 0;
    return 39;
}

extern "C" VCOM_EXPORT HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (!lplpsz) return E_INVALIDARG;
    *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
    if (!*lplpsz) return E_OUTOFMEMORY;
    StringFromGUID2(rclsid, *lplpsz, 39);
    return S_OK;
}

extern "C" VCOM_EXPORT HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (!lpszProgID || !lpclsid) return E_INVALIDARG;
    *lpclsid = GUID_NULL;
    std::string progId;
    for (const OLECHAR* p = lpszProgID; *p; ++p) {
        if (*p >= 0x80 || progId.size() > 64) return CO_E_CLASSSTRING;
        progId += static_cast<char>(*p);
    }
    vcom::ClassEntry entry;
    if (!vcom::validProgId(progId) || !vcom::findProgId(progId, entry)) return CO_E_CLASSSTRING;
    *lpclsid = entry.clsid;
    return S_OK;
}

extern "C" VCOM_EXPORT HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (!pclsid) return E_INVALIDARG;
    *pclsid = GUID_NULL;
    if (!lpsz) return S_OK; // as ole32: no string is the null class id
    if (vcom::parseGuid(lpsz, textLength(lpsz), *pclsid)) return S_OK;
    return CLSIDFromProgID(lpsz, pclsid); // a ProgID is accepted too
}

// ---- task memory -------------------------------------------------------------------

extern "C" VCOM_EXPORT LPVOID CoTaskMemAlloc(size_t cb) {
    return std::malloc(cb ? cb : 1);
}
extern "C" VCOM_EXPORT LPVOID CoTaskMemRealloc(LPVOID pv, size_t cb) {
    return std::realloc(pv, cb ? cb : 1);
}
extern "C" VCOM_EXPORT void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

// ---- objects from in-process servers ------------------------------------------------------

namespace {

// Server libraries stay loaded for the life of the process, as ole32 keeps a
// DLL until CoFreeUnusedLibraries (which does not exist here).
std::mutex& loadedLock() {
    static auto* lock = new std::mutex;
    return *lock;
}
std::map<std::string, LPFNGETCLASSOBJECT>& loadedServers() {
    static auto* servers = new std::map<std::string, LPFNGETCLASSOBJECT>;
    return *servers;
}

// Failures are reported as Windows reports LoadLibrary and GetProcAddress
// failures from CoGetClassObject, HRESULT_FROM_WIN32 of the system error:
//   the library (or a library it needs) is missing: 0x8007007E
//   (ERROR_MOD_NOT_FOUND, the familiar "module could not be found");
//   it exists but is no loadable library: 0x800700C1 (ERROR_BAD_EXE_FORMAT);
//   it has no DllGetClassObject: 0x8007007F (ERROR_PROC_NOT_FOUND).
// (Wine 8 answers E_ACCESSDENIED and CO_E_DLLNOTFOUND for the first and
// the last, by its own admission a guess; callers only test FAILED.)
HRESULT serverEntry(const std::string& path, LPFNGETCLASSOBJECT& entry) {
    std::lock_guard<std::mutex> hold(loadedLock());
    auto found = loadedServers().find(path);
    if (found != loadedServers().end()) {
        entry = found->second;
        return S_OK;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = ::dlerror();
        if (why && std::strstr(why, "cannot open shared object file"))
            return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND); // a library it needs
        return HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
    }
    void* symbol = ::dlsym(library, "DllGetClassObject");
    if (!symbol) {
        ::dlclose(library);
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    entry = reinterpret_cast<LPFNGETCLASSOBJECT>(symbol);
    loadedServers()[path] = entry;
    return S_OK;
}

} // namespace

extern "C" VCOM_EXPORT HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext,
                                                COSERVERINFO* pServerInfo, REFIID riid,
                                                LPVOID* ppv) {
    (void)pServerInfo; // no remote activation: there is no other machine
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (!vcom::threadInitialised()) return CO_E_NOTINITIALIZED;
    // Only in-process servers exist here; a class that asks for another kind
    // of server is not registered for it.
    if (!(dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)))
        return REGDB_E_CLASSNOTREG;
    vcom::ClassEntry entry;
    if (!vcom::findClass(rclsid, entry)) return REGDB_E_CLASSNOTREG;
    LPFNGETCLASSOBJECT getClassObject = nullptr;
    const HRESULT loaded = serverEntry(entry.library, getClassObject);
    if (FAILED(loaded)) return loaded;
    const HRESULT hr = getClassObject(rclsid, riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

extern "C" VCOM_EXPORT HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter,
                                                DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    void* factoryPointer = nullptr;
    HRESULT hr =
        CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, &factoryPointer);
    if (FAILED(hr)) return hr;
    auto* factory = static_cast<IClassFactory*>(factoryPointer);
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

// ---- a library's own path ------------------------------------------------------------------

extern "C" VCOM_EXPORT HRESULT VcomLibraryPath(const void* addressInLibrary, char* path,
                                               size_t size) {
    if (!addressInLibrary || !path || size == 0) return E_INVALIDARG;
    Dl_info info;
    if (!::dladdr(addressInLibrary, &info) || !info.dli_fname || !info.dli_fname[0]) return E_FAIL;
    std::string name = info.dli_fname;
    if (char* absolute = ::realpath(info.dli_fname, nullptr)) {
        name = absolute;
        std::free(absolute);
    }
    if (name.size() + 1 > size) return E_OUTOFMEMORY;
    std::memcpy(path, name.c_str(), name.size() + 1);
    return S_OK;
}
