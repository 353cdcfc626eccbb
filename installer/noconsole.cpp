// The Windows installer is built without the platform's console code (it has
// no console); exitProcess still names the console's restore step.
#include "../platform/win32/internal.h"

namespace platform {
namespace win32 {
void restoreConsole() {} // no console was changed
} // namespace win32
} // namespace platform
