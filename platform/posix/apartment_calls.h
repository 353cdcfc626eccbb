// The two calls of this thread's COM apartment that the message loop makes:
// queued calls are run one at a time like messages, and a queued call wakes
// a loop that waits.
#pragma once

namespace platform {
namespace posix {
// A descriptor that is readable while calls are queued for this thread's
// apartment; -1 when the thread has none.
int apartmentFd();
// Runs one queued call; false when none was queued.
bool apartmentPumpOne();
} // namespace posix
} // namespace platform
