// Test-only hook library for winprobe: loaded into the probed program by the
// system when winprobe hooks one of its threads; answers winprobe's query
// about one window from inside that program (see winprobehook.h).
#include "winprobehook.h"

#include <cwchar>

namespace {

bool isDialog(HWND hwnd) {
    wchar_t name[16] = L"";
    GetClassNameW(hwnd, name, 16);
    return std::wcscmp(name, L"#32770") == 0;
}

void answer(HWND hwnd, DWORD askingProcess) {
    wchar_t name[64];
    std::swprintf(name, 64, WINPROBE_ANSWER_FORMAT, static_cast<unsigned long>(askingProcess));
    const HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
    if (mapping == nullptr) return;
    auto* out = static_cast<WinprobeAnswer*>(
        MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(WinprobeAnswer)));
    if (out != nullptr) {
        const HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
        out->hasFont = font != nullptr && GetObjectW(font, sizeof out->font, &out->font) != 0;
        const HWND dialog = isDialog(hwnd) ? hwnd : GetParent(hwnd);
        RECT units = {0, 0, 4, 8};
        out->hasUnits = dialog != nullptr && isDialog(dialog) && MapDialogRect(dialog, &units);
        out->unitRect = units;
        out->answered = 1;
        UnmapViewOfFile(out);
    }
    CloseHandle(mapping);
}

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    WinprobeHook(int code, WPARAM wParam, LPARAM lParam) {
    static const UINT query = RegisterWindowMessageW(WINPROBE_QUERY_MESSAGE);
    if (code == HC_ACTION) {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (sent->message == query) answer(sent->hwnd, static_cast<DWORD>(sent->wParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
