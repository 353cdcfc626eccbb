// The listening window: its dialog, start-up, polling main loop and
// shutdown. Without a display (Linux) it runs the same relay headless.
#pragma once

#include "../platform/dialog.h"

#include <string>
#include <vector>

namespace listener {

constexpr int IDC_STARTLISTENING = 103;
constexpr int IDC_ENGINELIST = 105;
constexpr int IDC_STOPLISTENING = 108;

extern platform::DialogId dialog;
// The time string of the previous look at speak.txt; empty before the first.
extern std::string lastPollTime;

// The dialog as its table: title, size, styles, font and the three controls
// in creation order, the list filled with the engine names.
platform::DialogSpec ListeningDialogSpec(const std::vector<std::string>& engines);

// What the dialog procedure does with each event.
void ListeningDialogHandler(platform::DialogEvent event, int controlId);

// One turn's speak-file duty: at most once per clock second, take a request
// from speak.txt and hand its text to the synthesiser.
void PollSpeakFile();

// Start-up, main loop and shutdown; returns when the program is to end.
void RunListeningWindow();

} // namespace listener
