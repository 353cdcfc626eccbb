// Keeps the Wine prefix's desktop in use for a whole test run. Wine closes an
// unused desktop a moment after its last window goes, and the next program
// that makes a window (even a message-only one) starts the desktop process
// again, which then inherits that program's output pipe and holds the test
// open until it times out. Started once by the test script, this program
// holds the desktop until it is killed.
#include <windows.h>

int main() {
    const HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!window) return 1;
    for (;;)
        Sleep(60000);
}
