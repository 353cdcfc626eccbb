// The Windows side of the test component: environment, and the library's
// entry points with their registry entries.
#include "testkit.h"

#include "../../common/codepage.h"

#include <olectl.h>
#include <windows.h>

#include <string>

namespace testkit {

namespace {

HINSTANCE module = nullptr;

std::wstring wide(const std::string& text) {
    std::wstring out;
    for (char c : text)
        out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

std::wstring guidText(const GUID& guid) {
    wchar_t text[64];
    StringFromGUID2(guid, text, 64);
    return text;
}

bool setValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc =
        RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
}

std::wstring getValue(const std::wstring& key) {
    wchar_t value[256];
    LONG size = sizeof value;
    if (RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS) return L"";
    return value;
}

struct ClassEntry {
    const CLSID* clsid;
    const char* progId;
    const wchar_t* description;
};
const ClassEntry kClasses[] = {
    {&kSynthesiserClsid, kSynthesiserProgId, L"Verdel test speech synthesiser"},
    {&kRecogniserClsid, kRecogniserProgId, L"Verdel test speech recogniser"}};

} // namespace

std::string envValue(const char* name) {
    wchar_t value[4096];
    const DWORD length = GetEnvironmentVariableW(wide(name).c_str(), value, 4096);
    if (length == 0 || length >= 4096) return std::string();
    std::string out;
    for (DWORD i = 0; i < length; ++i)
        common::appendUtf8(out, value[i]);
    return out;
}

void sleepMs(int ms) {
    Sleep(static_cast<DWORD>(ms));
}

} // namespace testkit

using namespace testkit;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) module = instance;
    return TRUE;
}

#ifndef TESTKIT_NO_FACTORY
extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    return getClassObject(clsid, riid, object);
}
#endif

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return moduleLocks() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;
    for (const ClassEntry& entry : kClasses) {
        const std::wstring clsid = guidText(*entry.clsid);
        const std::wstring key = L"CLSID\\" + clsid;
        const std::wstring progId = wide(entry.progId);
        if (!setValue(key, nullptr, entry.description) ||
            !setValue(key + L"\\InprocServer32", nullptr, path) ||
            !setValue(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment") ||
            !setValue(key + L"\\ProgID", nullptr, progId) ||
            !setValue(progId + L"\\CLSID", nullptr, clsid))
            return SELFREG_E_CLASS;
    }
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    for (const ClassEntry& entry : kClasses) {
        const std::wstring clsid = guidText(*entry.clsid);
        const std::wstring progId = wide(entry.progId);
        // The ProgID goes only while it still names our class.
        if (getValue(progId + L"\\CLSID") == clsid)
            RegDeleteTreeW(HKEY_CLASSES_ROOT, progId.c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str());
    }
    return S_OK;
}
