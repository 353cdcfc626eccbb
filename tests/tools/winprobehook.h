// What winprobe asks inside another program's process: fonts and dialog base
// units only mean something there (a font handle belongs to its process, and
// MapDialogRect works only on the process's own dialogs). winprobe installs
// the hook of winprobehook.dll on the window's thread, sends it the query
// message, and the hook writes the answer into a shared block named after
// winprobe's process id.
#pragma once
#include <windows.h>

#define WINPROBE_QUERY_MESSAGE L"VerdelWinprobeQuery"
#define WINPROBE_ANSWER_FORMAT L"Local\\VerdelWinprobeAnswer-%lu"

struct WinprobeAnswer {
    LONG answered; // 1 once the hook has filled the rest
    LONG hasFont;  // the window has a font (WM_GETFONT) and it could be read
    LOGFONTW font; // that font
    LONG hasUnits; // the window is a dialog, or a dialog's child
    RECT unitRect; // MapDialogRect of {0, 0, 4, 8} on that dialog
};
