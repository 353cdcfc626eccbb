#pragma once

namespace platform {
namespace posix {
// Puts the terminal back into the mode it had before consoleInit.
void restoreConsole();
} // namespace posix
} // namespace platform
