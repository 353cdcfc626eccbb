// The installer's one dialog: install, exit, run the tutor, and a status
// box that says whether the tutor was installed when the installer started.
#pragma once

#include "../platform/dialog.h"

#include <string>

namespace installer {

constexpr int IDC_INSTALL = 1001;
constexpr int IDC_EXIT = 1002;
constexpr int IDC_RUN = 1003;
constexpr int IDC_STATUS = 1004;

// What the status box shows: "not installed" or readyText.
extern std::string statusText;
extern std::string readyText;

// targetPaths: each chunk's installed name joined onto the install directory.
void initTargetPaths();
// Decides statusText once, from whether the tutor's file exists.
void initStatusText();
// The dialog as its table.
platform::DialogSpec installerDialog();
// Runs the dialog modally (it has no owner) and returns its result; the
// status box's font lives exactly as long as the dialog.
int showInstallerDialog();
// The dialog's handler.
void installerDialogProc(platform::DialogEvent event, int controlId);

} // namespace installer
