#include "platform/apartment.h"

#include <windows.h>

namespace platform {

namespace {
constexpr UINT kCall = WM_APP + 1;
const wchar_t kClass[] = L"XSpeechKitApartment";

LRESULT CALLBACK apartmentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kCall) {
        reinterpret_cast<void (*)(void*)>(wParam)(reinterpret_cast<void*>(lParam));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HINSTANCE thisModule() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&apartmentProc), &self);
    return self;
}
} // namespace

ApartmentId currentApartment() {
    static thread_local HWND window = nullptr;
    if (window) return window;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = apartmentProc;
    wc.hInstance = thisModule();
    wc.lpszClassName = kClass;
    RegisterClassW(&wc); // a second registration fails harmlessly
    window = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                             nullptr);
    return window;
}

bool postToApartment(ApartmentId apartment, void (*call)(void*), void* context) {
    return apartment &&
           PostMessageW(static_cast<HWND>(apartment), kCall, reinterpret_cast<WPARAM>(call),
                        reinterpret_cast<LPARAM>(context));
}

} // namespace platform
