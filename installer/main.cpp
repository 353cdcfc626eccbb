// installverdel101: installs the tutor, the listening window, the book and
// the speech component from its own file, or runs the installed tutor.
#include "../platform/dialog.h"
#include "../platform/installdir.h"
#include "../platform/platform.h"
#include "../platform/setup.h"
#include "dialog.h"
#include "payload.h"

#include <cstdio>

namespace {

void showMessage(const std::string& text) {
    platform::messageBox(text, installer::messageTitle);
}

bool runAndWait(const std::string& commandLine) {
    return platform::startCommandLine(commandLine, true);
}

} // namespace

int main() {
    using namespace installer;
    platform::initCommonControls();
    messageTitle = "Verdel Typing Tutor";
    initPackagedTables();
    initTargetPaths();
    // Also when the learner then declines to install; failure (such as the
    // directory existing) is no error.
    platform::createDirectory(platform::installDirectory());
    initStatusText();
    payloadActions = PayloadActions{showMessage, platform::sleepMs, runAndWait};
    if (!platform::displayAvailable()) { // Linux without a display: nothing to show it on
        std::fputs("installverdel101: no display to show the installer on\n", stderr);
        return 1;
    }
    showInstallerDialog();
    return 0;
}
