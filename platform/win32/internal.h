#pragma once
#include <cstddef>
#include <string>

namespace platform {
namespace win32 {
// Puts the console input mode back to what it was before consoleInit.
// Takes no lock, so it is safe while another thread is inside a console call.
void restoreConsole();
// A Windows-1252 string as UTF-16.
std::wstring widen(const std::string& cp1252);
// UTF-16 as Windows-1252; a character the code page cannot hold becomes '?'.
std::string narrow(const wchar_t* text, std::size_t length);
} // namespace win32
} // namespace platform
