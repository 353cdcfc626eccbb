// The apartment of a thread is a message-only window that the thread owns:
// a call posted to it as a private message runs when the thread's message
// loop dispatches it. Windows destroys the window when its thread ends, and
// a post to a destroyed window fails.
#include "../apartment.h"

#include <windows.h>

namespace platform {

namespace {

constexpr UINT kCallMessage = WM_APP + 0x11; // private to our own window class
const wchar_t kClassName[] = L"VerdelApartmentWindow";

LRESULT CALLBACK apartmentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kCallMessage) {
        reinterpret_cast<void (*)(void*)>(wParam)(reinterpret_cast<void*>(lParam));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The module this code is linked into (the program or a component DLL): the
// window class belongs to it.
HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&apartmentProc), &module);
    return module;
}

thread_local HWND threadWindow = nullptr;

} // namespace

ApartmentId currentApartment() {
    if (threadWindow && IsWindow(threadWindow)) return threadWindow;
    const HINSTANCE module = thisModule();
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = apartmentProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass); // fails harmlessly when already registered
    threadWindow =
        CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    return threadWindow;
}

bool postToApartment(ApartmentId apartment, void (*fn)(void*), void* ctx) {
    if (!apartment || !fn) return false;
    return PostMessageW(static_cast<HWND>(apartment), kCallMessage, reinterpret_cast<WPARAM>(fn),
                        reinterpret_cast<LPARAM>(ctx)) != 0;
}

} // namespace platform
