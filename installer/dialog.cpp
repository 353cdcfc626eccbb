#include "dialog.h"

#include "../platform/installdir.h"
#include "../platform/platform.h"
#include "../platform/setup.h"
#include "payload.h"

namespace installer {

std::string statusText;
std::string readyText;

namespace {
// The control that had the keyboard focus when the dialog was last
// deactivated (0: none), given back when it is activated again.
int rememberedFocus = 0;
} // namespace

void initTargetPaths() {
    targetPaths.assign(chunkFileNames.size(), std::string());
    for (std::size_t k = 1; k < chunkFileNames.size(); ++k)
        targetPaths[k] = platform::installPath(chunkFileNames[k]);
}

void initStatusText() {
    statusText = "not installed";
    readyText = "v1.01 ready";
    if (targetPaths.size() > 1 && platform::fileExists(targetPaths[1])) statusText = readyText;
}

platform::DialogSpec installerDialog() {
    using namespace platform::style;
    constexpr std::uint32_t kButton = kChild | kVisible | kTabStop | kBsPushButton;
    platform::DialogSpec d;
    d.title = "Install Verdel Typing Tutor now";
    d.x = 70;
    d.y = 70;
    d.width = 201;
    d.height = 129;
    d.style = kPopup | kCaption | kDsModalFrame | kDsSetFont | kDsSetForeground | kDs3dLook;
    d.font = platform::FontSpec{"MS Sans Serif", 8, 400};
    using platform::ControlKind;
    d.controls = {
        {IDC_INSTALL,
         ControlKind::PushButton,
         "Install (Yes) and Proceed",
         {},
         5,
         5,
         190,
         25,
         kButton,
         0,
         {}},
        {IDC_EXIT,
         ControlKind::PushButton,
         "Don't Install (No) and Exit",
         {},
         5,
         35,
         190,
         25,
         kButton,
         0,
         {}},
        {IDC_RUN,
         ControlKind::PushButton,
         "Run The Program (if installed)",
         {},
         5,
         65,
         190,
         30,
         kButton,
         0,
         {}},
        {IDC_STATUS,
         ControlKind::Edit,
         statusText,
         {},
         5,
         100,
         190,
         25,
         kChild | kVisible | kTabStop | kEsAutoHScroll,
         kExClientEdge,
         platform::FontSpec{"MS Sans Serif", 24, 400}},
    };
    return d;
}

int showInstallerDialog() {
    return platform::dialogRunModal(installerDialog(), installerDialogProc);
}

void installerDialogProc(platform::DialogEvent event, int controlId) {
    using platform::DialogEvent;
    const platform::DialogId dialog = platform::currentDialog();
    switch (event) {
    case DialogEvent::Deactivated:
        rememberedFocus = platform::focusedControl(dialog);
        break;
    case DialogEvent::Activated:
        if (rememberedFocus != 0) {
            platform::controlSetFocus(dialog, rememberedFocus);
            rememberedFocus = 0;
        }
        break;
    case DialogEvent::Clicked:
        if (controlId == IDC_INSTALL) {
            installPayload();
            platform::dialogEnd(dialog, 1);
        } else if (controlId == IDC_EXIT) {
            platform::dialogEnd(dialog, 1);
        } else if (controlId == IDC_RUN && statusText == readyText) {
            // A tutor that cannot be started ends the dialog all the same.
            platform::runInOwnConsole(targetPaths[1]);
            platform::dialogEnd(dialog, 1);
        }
        break;
    default:
        break;
    }
}

} // namespace installer
