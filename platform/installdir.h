#pragma once
#include <string>

namespace platform {

// The install directory: VERDEL_HOME when set, else the built-in one.
std::string installDirectory();
// A fixed file name joined onto the install directory.
std::string installPath(const std::string& name);

} // namespace platform
