#include "harness.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace harness {

namespace {
HMODULE g_library = nullptr;
using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
DWORD g_cookies[2] = {0, 0};

std::wstring libraryPath() {
    wchar_t exe[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dir(exe, n);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + L"XSpeechKit.dll";
}
} // namespace

bool setUp(std::string& why) {
    CoInitialize(nullptr);
    if (!g_library) g_library = LoadLibraryW(libraryPath().c_str());
    if (!g_library) {
        why = "XSpeechKit.dll could not be loaded";
        return false;
    }
    return true;
}

void tearDown() {
    for (DWORD& cookie : g_cookies)
        if (cookie) {
            CoRevokeClassObject(cookie);
            cookie = 0;
        }
}

// The class object is registered for this process only (no registry), so
// the tests never disturb another registration of the same ProgIDs.
IDispatch* create(const char*, const CLSID& clsid) {
    auto get = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(g_library, "DllGetClassObject")));
    if (!get) return nullptr;
    static CLSID registered[2];
    int index = -1;
    for (int i = 0; i < 2; ++i)
        if (g_cookies[i] && IsEqualCLSID(registered[i], clsid)) index = i;
    if (index < 0) {
        for (int i = 0; i < 2 && index < 0; ++i)
            if (!g_cookies[i]) index = i;
        IUnknown* factory = nullptr;
        if (index < 0 || FAILED(get(clsid, IID_IUnknown, reinterpret_cast<void**>(&factory))))
            return nullptr;
        const HRESULT hr = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER,
                                                 REGCLS_MULTIPLEUSE, &g_cookies[index]);
        factory->Release();
        if (FAILED(hr)) return nullptr;
        registered[index] = clsid;
    }
    IDispatch* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&object))))
        return nullptr;
    return object;
}

void pumpFor(int ms) {
    pumpUntil([] { return false; }, ms);
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

HRESULT canUnloadNow() {
    auto fn = reinterpret_cast<CanUnloadFn>(
        reinterpret_cast<void*>(GetProcAddress(g_library, "DllCanUnloadNow")));
    return fn ? fn() : E_FAIL;
}

void setEnvironment(const char* name, const std::string& value) {
    // The component reads the C runtime's copy of the environment.
    _putenv((std::string(name) + "=" + value).c_str());
}

unsigned long currentThreadId() {
    return GetCurrentThreadId();
}

bool hideVoices(const std::string&) {
    return false;
}

int registerTool(bool unregister) {
    std::wstring command = L"regsvr32.exe /s ";
    if (unregister) command += L"/u ";
    command += L"\"" + libraryPath() + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<int>(code);
}

HRESULT classIdOf(const char* progId, CLSID& clsid) {
    const std::string ascii(progId);
    const std::wstring wide(ascii.begin(), ascii.end());
    return CLSIDFromProgID(wide.c_str(), &clsid);
}

struct SavedRegistrations {
    std::wstring progIds[2];
    std::wstring clsids[2]; // empty: not registered before
};

SavedRegistrations* saveRegistrations() {
    auto* saved = new SavedRegistrations;
    const char* progIds[2] = {"XSpeechKit.XKitSR.6", "XSpeechKit.XKitTTS.6"};
    for (int i = 0; i < 2; ++i) {
        const std::string ascii(progIds[i]);
        saved->progIds[i] = std::wstring(ascii.begin(), ascii.end());
        wchar_t value[64] = {};
        DWORD size = sizeof value - sizeof(wchar_t);
        if (RegGetValueW(HKEY_CLASSES_ROOT, (saved->progIds[i] + L"\\CLSID").c_str(), nullptr,
                         RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS)
            saved->clsids[i] = value;
    }
    return saved;
}

void restoreRegistrations(SavedRegistrations* saved) {
    for (int i = 0; i < 2; ++i) {
        if (saved->clsids[i].empty()) continue;
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (saved->progIds[i] + L"\\CLSID").c_str(), 0, nullptr,
                            0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
            continue;
        RegSetValueExW(key, nullptr, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(saved->clsids[i].c_str()),
                       static_cast<DWORD>((saved->clsids[i].size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    delete saved;
}

} // namespace harness
