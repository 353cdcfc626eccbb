#pragma once

namespace tutor {
// Prints and speaks the six help lines, then waits while the code is 100.
void ShowHelp();
} // namespace tutor
