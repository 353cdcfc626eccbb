#include "installdir.h"

#include "platform.h"

namespace platform {

std::string installDirectory() {
    std::string dir = environmentVariable("VERDEL_HOME");
    if (dir.empty()) dir = defaultInstallDir();
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\'))
        dir.pop_back();
    return dir;
}

std::string installPath(const std::string& name) {
    return installDirectory() + pathSeparator() + name;
}

} // namespace platform
