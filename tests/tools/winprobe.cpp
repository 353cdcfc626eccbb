// Test-only Windows helper: reads and drives another program's top-level
// window and its controls by title and control id, as a user (or a screen
// reader) would, and prints what it finds as JSON lines.
//
//   winprobe.exe [--timeout MS] COMMAND [TITLE [ARGS...]]
//
// Every command that names a TITLE first waits (up to the time-out, 10 s
// unless given) for a visible top-level window with exactly that title.
// Exit status: 0 done, 1 window or control not found in time, 2 usage.
//
//   wait TITLE            {"hwnd":...,"title":...}
//   gone TITLE            waits until no visible window has that title: {"gone":true}
//   window TITLE          the window: title, class, style, exstyle, rect and
//                         client size in pixels, screen size, dpi, dialog
//                         base units (what MapDialogRect makes of 4x8 units)
//                         and client size in dialog units, and its font
//   controls TITLE        one line per child: id, class, text, style, exstyle,
//                         "px" [x,y,w,h] in client pixels and "du" [x,y,w,h]
//                         in dialog units (the pixels mapped back through the
//                         base units), visible, and its font
//
// A font is {"face","height" (lfHeight),"points","weight","charset"}, or null.
// Fonts and base units are read inside the window's own process by the hook
// in winprobehook.dll, which must sit beside winprobe.exe.
//   list TITLE ID         {"id":...,"count":N,"selected":I,"items":[...]} (-1: none)
//   select TITLE ID INDEX selects an entry as a user does: LB_SETCURSEL, then
//                         LBN_SELCHANGE to the dialog
//   click TITLE ID        a button click as the button reports it: WM_COMMAND
//                         BN_CLICKED posted to the dialog
//   press TITLE ID        BM_CLICK posted to the button itself
//   text TITLE ID         {"id":...,"text":...} (WM_GETTEXT)
//   focus TITLE           {"focus":ID} the control with the keyboard focus (0: none)
//   close TITLE           WM_SYSCOMMAND SC_CLOSE posted, as from the system menu
//   msgbox TITLE          {"text":...} a message box's text (its static, id 65535)
//   ok TITLE              presses a message box's OK button
//   windows               every top-level window: hwnd, title, class, visible
//
//   winprobe.exe serve    reads commands from standard input, one a line with
//                         tab-separated words (--timeout MS first if wanted),
//                         and after each one's output prints {"status":N}
//                         (its exit status); saves starting a program a call
//
// Styles are printed as "0x%08X" strings; strings are JSON with \u escapes
// for everything outside printable ASCII.
#include "winprobehook.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

int timeoutMs = 10000;

std::string json(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t ch : text) {
        if (ch == L'"' || ch == L'\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch >= 0x20 && ch < 0x7F) {
            out += static_cast<char>(ch);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(ch) & 0xFFFF);
            out += escape;
        }
    }
    return out + "\"";
}

std::string hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "\"0x%08lX\"", static_cast<unsigned long>(value));
    return text;
}

std::string handle(HWND hwnd) {
    return std::to_string(reinterpret_cast<unsigned long long>(hwnd));
}

void emit(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::wstring widen(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], n);
    out.resize(std::wcslen(out.c_str()));
    return out;
}

// WM_GETTEXT reaches into the other process; a hung window gives up.
std::wstring windowText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return std::wstring();
    std::vector<wchar_t> text(length + 2);
    DWORD_PTR got = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 2000, &got);
    return std::wstring(text.data(), got);
}

std::wstring className(HWND hwnd) {
    wchar_t name[256] = L"";
    GetClassNameW(hwnd, name, 256);
    return name;
}

struct Finder {
    std::wstring title;
    HWND found = nullptr;
};

BOOL CALLBACK findVisible(HWND hwnd, LPARAM param) {
    auto* finder = reinterpret_cast<Finder*>(param);
    if (!IsWindowVisible(hwnd)) return TRUE;
    wchar_t text[512] = L"";
    GetWindowTextW(hwnd, text, 512);
    if (finder->title == text) {
        finder->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND findWindow(const std::wstring& title) {
    Finder finder;
    finder.title = title;
    EnumWindows(findVisible, reinterpret_cast<LPARAM>(&finder));
    return finder.found;
}

HWND waitWindow(const std::wstring& title) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND hwnd = findWindow(title)) return hwnd;
        if (GetTickCount() - start > static_cast<DWORD>(timeoutMs)) return nullptr;
        Sleep(50);
    }
}

// Asks the hook library, loaded into the window's own process, about the
// window's font and its dialog's base units (see winprobehook.h).
bool askInside(HWND hwnd, WinprobeAnswer& result) {
    static HMODULE library = [] {
        wchar_t path[MAX_PATH];
        const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dir(path, n);
        dir.erase(dir.find_last_of(L"\\/") + 1);
        return LoadLibraryW((dir + L"winprobehook.dll").c_str());
    }();
    if (library == nullptr) return false;
    const FARPROC entry = GetProcAddress(library, "WinprobeHook");
    HOOKPROC hookProc = nullptr;
    static_assert(sizeof hookProc == sizeof entry, "function pointers convert");
    std::memcpy(&hookProc, &entry, sizeof hookProc);
    if (hookProc == nullptr) return false;
    wchar_t name[64];
    std::swprintf(name, 64, WINPROBE_ANSWER_FORMAT,
                  static_cast<unsigned long>(GetCurrentProcessId()));
    const HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              sizeof(WinprobeAnswer), name);
    if (mapping == nullptr) return false;
    auto* shared = static_cast<WinprobeAnswer*>(
        MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(WinprobeAnswer)));
    bool ok = false;
    if (shared != nullptr) {
        std::memset(shared, 0, sizeof *shared);
        const HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, hookProc, library,
                                             GetWindowThreadProcessId(hwnd, nullptr));
        if (hook != nullptr) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(hwnd, RegisterWindowMessageW(WINPROBE_QUERY_MESSAGE),
                                GetCurrentProcessId(), 0, SMTO_ABORTIFHUNG, 3000, &ignored);
            UnhookWindowsHookEx(hook);
        }
        ok = shared->answered != 0;
        if (ok) result = *shared;
        UnmapViewOfFile(shared);
    }
    CloseHandle(mapping);
    return ok;
}

// Dialog base units: what 4 by 8 dialog units measure in pixels.
bool baseUnits(HWND hwnd, int& unitX, int& unitY) {
    WinprobeAnswer answer{};
    if (!askInside(hwnd, answer) || !answer.hasUnits) return false;
    unitX = answer.unitRect.right;
    unitY = answer.unitRect.bottom;
    return unitX > 0 && unitY > 0;
}

// The dialog unit count that maps to `pixels` (MulDiv(units, base, 4 or 8)).
int toUnits(int pixels, int base, int per) {
    const int guess = MulDiv(pixels, per, base);
    for (int units = guess - 2; units <= guess + 2; ++units)
        if (MulDiv(units, base, per) == pixels) return units;
    return guess;
}

std::string fontJson(const LOGFONTW& font) {
    const HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    const int height = font.lfHeight < 0 ? -font.lfHeight : font.lfHeight;
    return "{\"face\":" + json(font.lfFaceName) + ",\"height\":" + std::to_string(font.lfHeight) +
           ",\"points\":" + std::to_string(MulDiv(height, 72, dpi)) +
           ",\"weight\":" + std::to_string(font.lfWeight) +
           ",\"charset\":" + std::to_string(font.lfCharSet) + "}";
}

std::string fontOf(HWND hwnd) {
    WinprobeAnswer answer{};
    if (!askInside(hwnd, answer) || !answer.hasFont) return "null";
    return fontJson(answer.font);
}

int cmdWindow(HWND hwnd) {
    RECT rect{}, client{};
    GetWindowRect(hwnd, &rect);
    GetClientRect(hwnd, &client);
    int unitX = 0, unitY = 0;
    const bool units = baseUnits(hwnd, unitX, unitY);
    std::string line =
        "{\"hwnd\":" + handle(hwnd) + ",\"title\":" + json(windowText(hwnd)) +
        ",\"class\":" + json(className(hwnd)) +
        ",\"style\":" + hex(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE))) +
        ",\"exstyle\":" + hex(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE))) +
        ",\"rect_px\":[" + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
        std::to_string(rect.right - rect.left) + "," + std::to_string(rect.bottom - rect.top) +
        "]" + ",\"client_px\":[" + std::to_string(client.right) + "," +
        std::to_string(client.bottom) + "]";
    const HDC dc = GetDC(nullptr);
    line += ",\"screen_px\":[" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "," +
            std::to_string(GetSystemMetrics(SM_CYSCREEN)) +
            "],\"dpi\":" + std::to_string(GetDeviceCaps(dc, LOGPIXELSY));
    ReleaseDC(nullptr, dc);
    if (units) {
        line += ",\"base_units\":[" + std::to_string(unitX) + "," + std::to_string(unitY) + "]";
        line += ",\"client_du\":[" + std::to_string(toUnits(client.right, unitX, 4)) + "," +
                std::to_string(toUnits(client.bottom, unitY, 8)) + "]";
    }
    line += ",\"font\":" + fontOf(hwnd);
    emit(line + "}");
    return 0;
}

int cmdControls(HWND dialog) {
    int unitX = 0, unitY = 0;
    const bool units = baseUnits(dialog, unitX, unitY);
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        const int x = rect.left, y = rect.top, w = rect.right - rect.left,
                  h = rect.bottom - rect.top;
        std::string line =
            "{\"id\":" + std::to_string(GetDlgCtrlID(child)) +
            ",\"class\":" + json(className(child)) + ",\"text\":" + json(windowText(child)) +
            ",\"style\":" + hex(static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE))) +
            ",\"exstyle\":" + hex(static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE))) +
            ",\"px\":[" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) +
            "," + std::to_string(h) + "]";
        // The dialog manager maps position and size each on its own.
        if (units)
            line += ",\"du\":[" + std::to_string(toUnits(x, unitX, 4)) + "," +
                    std::to_string(toUnits(y, unitY, 8)) + "," +
                    std::to_string(toUnits(w, unitX, 4)) + "," +
                    std::to_string(toUnits(h, unitY, 8)) + "]";
        line += std::string(",\"visible\":") + (IsWindowVisible(child) ? "true" : "false");
        line += ",\"font\":" + fontOf(child);
        emit(line + "}");
    }
    return 0;
}

HWND control(HWND dialog, const char* idText) {
    const HWND item = GetDlgItem(dialog, std::atoi(idText));
    if (item == nullptr) std::fprintf(stderr, "winprobe: no control %s\n", idText);
    return item;
}

int cmdList(HWND dialog, const char* idText) {
    const HWND list = control(dialog, idText);
    if (list == nullptr) return 1;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    std::string items;
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::vector<wchar_t> text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1u);
        const LRESULT got = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i),
                                         reinterpret_cast<LPARAM>(text.data()));
        if (i > 0) items += ",";
        items += json(std::wstring(text.data(), got > 0 ? static_cast<std::size_t>(got) : 0u));
    }
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    emit("{\"id\":" + std::string(idText) + ",\"count\":" + std::to_string(count) +
         ",\"selected\":" + std::to_string(selected == LB_ERR ? -1 : selected) + ",\"items\":[" +
         items + "]}");
    return 0;
}

int cmdSelect(HWND dialog, const char* idText, const char* indexText) {
    const HWND list = control(dialog, idText);
    if (list == nullptr) return 1;
    const int index = std::atoi(indexText);
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    emit("{\"selected\":" + std::to_string(index) + "}");
    return 0;
}

int cmdClick(HWND dialog, const char* idText, bool bmClick) {
    const HWND button = control(dialog, idText);
    if (button == nullptr) return 1;
    if (bmClick)
        PostMessageW(button, BM_CLICK, 0, 0);
    else
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    emit("{\"clicked\":" + std::string(idText) + "}");
    return 0;
}

int cmdFocus(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    int id = 0;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) &&
        info.hwndFocus != nullptr && IsChild(dialog, info.hwndFocus)) {
        HWND focus = info.hwndFocus;
        while (GetParent(focus) != dialog)
            focus = GetParent(focus);
        id = GetDlgCtrlID(focus);
    }
    emit("{\"focus\":" + std::to_string(id) + "}");
    return 0;
}

int cmdMsgbox(HWND box) {
    const HWND text = GetDlgItem(box, 0xFFFF);
    if (text == nullptr) {
        std::fprintf(stderr, "winprobe: no message text in that window\n");
        return 1;
    }
    emit("{\"title\":" + json(windowText(box)) + ",\"text\":" + json(windowText(text)) + "}");
    return 0;
}

BOOL CALLBACK listWindow(HWND hwnd, LPARAM) {
    wchar_t text[512] = L"";
    GetWindowTextW(hwnd, text, 512);
    emit("{\"hwnd\":" + handle(hwnd) + ",\"title\":" + json(text) +
         ",\"class\":" + json(className(hwnd)) +
         ",\"visible\":" + (IsWindowVisible(hwnd) ? "true" : "false") + "}");
    return TRUE;
}

int usage() {
    std::fprintf(stderr, "usage: winprobe.exe [--timeout MS] COMMAND [TITLE [ARGS...]]\n");
    return 2;
}

// Runs one command line (without the program name).
int run(std::vector<std::string> words) {
    timeoutMs = 10000;
    std::size_t arg = 0;
    if (arg + 1 < words.size() && words[arg] == "--timeout") {
        timeoutMs = std::atoi(words[arg + 1].c_str());
        arg += 2;
    }
    if (arg >= words.size()) return usage();
    const std::string command = words[arg++];
    if (command == "windows") {
        EnumWindows(listWindow, 0);
        return 0;
    }
    if (arg >= words.size()) return usage();
    const std::string titleText = words[arg++];
    const std::wstring title = widen(titleText.c_str());
    std::vector<const char*> args;
    for (std::size_t i = arg; i < words.size(); ++i)
        args.push_back(words[i].c_str());
    const std::size_t rest = args.size();

    if (command == "gone") {
        const DWORD start = GetTickCount();
        while (findWindow(title) != nullptr) {
            if (GetTickCount() - start > static_cast<DWORD>(timeoutMs)) {
                std::fprintf(stderr, "winprobe: window still there\n");
                return 1;
            }
            Sleep(50);
        }
        emit("{\"gone\":true}");
        return 0;
    }
    const HWND hwnd = waitWindow(title);
    if (hwnd == nullptr) {
        std::fprintf(stderr, "winprobe: no window titled %s\n", titleText.c_str());
        return 1;
    }
    if (command == "wait") {
        emit("{\"hwnd\":" + handle(hwnd) + ",\"title\":" + json(windowText(hwnd)) + "}");
        return 0;
    }
    if (command == "window") return cmdWindow(hwnd);
    if (command == "controls") return cmdControls(hwnd);
    if (command == "focus") return cmdFocus(hwnd);
    if (command == "msgbox") return cmdMsgbox(hwnd);
    if (command == "close") {
        PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        emit("{\"closed\":true}");
        return 0;
    }
    if (command == "ok") {
        const HWND ok = GetDlgItem(hwnd, IDOK);
        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
        emit("{\"ok\":true}");
        return 0;
    }
    if (rest >= 1 && command == "list") return cmdList(hwnd, args[0]);
    if (rest >= 1 && command == "click") return cmdClick(hwnd, args[0], false);
    if (rest >= 1 && command == "press") return cmdClick(hwnd, args[0], true);
    if (rest >= 1 && command == "text") {
        const HWND item = control(hwnd, args[0]);
        if (item == nullptr) return 1;
        emit("{\"id\":" + std::string(args[0]) + ",\"text\":" + json(windowText(item)) + "}");
        return 0;
    }
    if (rest >= 2 && command == "select") return cmdSelect(hwnd, args[0], args[1]);
    return usage();
}

// One command per input line, its words separated by tabs; after each, a
// line {"status":N} with what its exit status would have been.
int serve() {
    char line[4096];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        std::vector<std::string> words;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = text.find('\t', start);
            words.push_back(text.substr(start, tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        const int status = run(words);
        std::fflush(stderr);
        emit("{\"status\":" + std::to_string(status) + "}");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "serve") == 0) return serve();
    return run(std::vector<std::string>(argv + 1, argv + argc));
}
