// Registration in the Windows registry: HKEY_CLASSES_ROOT for the machine
// (regsvr32 run as administrator), else the user's own classes.
#include "../registration.h"

#include <olectl.h>
#include <windows.h>

#include <string>

namespace speechkit {

namespace {

std::wstring wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::wstring modulePath() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&modulePath), &self))
        return std::wstring();
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(self, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

bool setValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG rc =
        RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
}

bool writeClasses(HKEY root, const std::wstring& path) {
    for (const ClassEntry& c : kClasses) {
        const std::wstring clsid = wide(guidText(*c.clsid));
        const std::wstring progId = wide(c.progId);
        const std::wstring classKey = L"CLSID\\" + clsid;
        if (!setValue(root, classKey, nullptr, wide(c.name)) ||
            !setValue(root, classKey + L"\\InprocServer32", nullptr, path) ||
            !setValue(root, classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") ||
            !setValue(root, classKey + L"\\ProgID", nullptr, progId) ||
            !setValue(root, progId, nullptr, wide(c.name)) ||
            !setValue(root, progId + L"\\CLSID", nullptr, clsid))
            return false;
    }
    return true;
}

// The ProgID goes only while it still names our class: another library
// registered under the same name since keeps its registration.
void removeClasses(HKEY root) {
    for (const ClassEntry& c : kClasses) {
        const std::wstring clsid = wide(guidText(*c.clsid));
        RegDeleteTreeW(root, (L"CLSID\\" + clsid).c_str());
        wchar_t value[64] = {};
        DWORD size = sizeof value - sizeof(wchar_t);
        if (RegGetValueW(root, (wide(c.progId) + L"\\CLSID").c_str(), nullptr, RRF_RT_REG_SZ,
                         nullptr, value, &size) == ERROR_SUCCESS &&
            lstrcmpiW(value, clsid.c_str()) == 0)
            RegDeleteTreeW(root, wide(c.progId).c_str());
    }
}

HKEY openUserClasses() {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                        KEY_WRITE | KEY_READ, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return handle;
}

} // namespace

HRESULT registerClasses() {
    const std::wstring path = modulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    if (writeClasses(HKEY_CLASSES_ROOT, path)) return S_OK;
    removeClasses(HKEY_CLASSES_ROOT);
    HKEY user = openUserClasses();
    if (!user) return SELFREG_E_CLASS;
    const bool ok = writeClasses(user, path);
    if (!ok) removeClasses(user);
    RegCloseKey(user);
    return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT unregisterClasses() {
    removeClasses(HKEY_CLASSES_ROOT);
    if (HKEY user = openUserClasses()) {
        removeClasses(user);
        RegCloseKey(user);
    }
    return S_OK;
}

} // namespace speechkit
