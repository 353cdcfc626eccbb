#include "window.h"

#include "../platform/platform.h"
#include "exchangeagent.h"
#include "speechengine.h"

#include <cmath>
#include <cstdio>

namespace listener {

platform::DialogId dialog = 0;
std::string lastPollTime;

namespace {

const char* const kNotInstalled = "SpeechKit not installed";
const char* const kPrompt =
    "Press the start listening button to recognize, and the stop listening button to stop.";
const char* const kGoodbye = "I'm shutting down now. Good bye.";

// How long the loop may wait for messages: not at all while a look at
// speak.txt is due (the first turn, or a new clock second), else until the
// clock's next second begins.
int msUntilNextLook() {
    if (platform::localTimeStamp() != lastPollTime) return 0;
    const double seconds = platform::secondsSinceMidnight();
    const int ms = static_cast<int>(std::ceil((std::ceil(seconds) - seconds) * 1000.0));
    return ms + 1;
}

// Start-up steps 1 to 4: the two objects, the engine names, recognition.
void CreateSpeechObjects() {
    synthesiser = CreateSpeechObject(kSynthesiserProgId);
    if (synthesiser == nullptr) platform::messageBox(kNotInstalled, "");
    recogniser = CreateSpeechObject(kRecogniserProgId);
    if (recogniser == nullptr) platform::messageBox(kNotInstalled, "");
    ListEngines();
    PrepareRecognition();
}

void Shutdown() {
    SpeakSynchronously(kGoodbye);
    ReleaseSynthesiser();
    // The recogniser lives until the process ends.
}

// No display: the same relay with no window. Listening starts at once, as
// no button can be pressed; a close signal ends it like closing the window.
void RunHeadless() {
    std::fputs("hearken: no display, running without a window\n", stderr);
    synthesiser = CreateSpeechObject(kSynthesiserProgId);
    if (synthesiser == nullptr) std::fprintf(stderr, "hearken: %s\n", kNotInstalled);
    recogniser = CreateSpeechObject(kRecogniserProgId);
    if (recogniser == nullptr) std::fprintf(stderr, "hearken: %s\n", kNotInstalled);
    ListEngines();
    PrepareRecognition();
    ConnectEventSink(recogniser, eventCookie);
    StartListening();
    while (!platform::closeRequested()) {
        if (!platform::pumpOneMessage()) platform::waitForMessages(msUntilNextLook());
        PollSpeakFile();
    }
    DisconnectEventSink(recogniser, eventCookie);
    Shutdown();
}

} // namespace

platform::DialogSpec ListeningDialogSpec(const std::vector<std::string>& engines) {
    using namespace platform::style;
    using platform::ControlKind;
    platform::DialogSpec table;
    table.title = "Verdel Listening Window";
    table.width = 160;
    table.height = 71;
    // Created hidden: no WS_VISIBLE until it is shown.
    table.style = kPopup | kCaption | kSysMenu | kDsModalFrame | kDsSetFont | kDs3dLook |
                  kDsNoFailCreate | kDsCenter;
    table.exStyle = kExAppWindow;
    table.font = {"MS Sans Serif", 8, 400};

    platform::ControlSpec list;
    list.id = IDC_ENGINELIST;
    list.kind = ControlKind::ListBox;
    list.items = engines;
    list.x = 0;
    list.y = 0;
    list.width = 160;
    list.height = 56;
    list.style = kChild | kVisible | kVScroll | kTabStop | kLbsNoIntegralHeight | kLbsNotify;

    platform::ControlSpec start;
    start.id = IDC_STARTLISTENING;
    start.kind = ControlKind::PushButton;
    start.text = "Start Listening";
    start.x = 0;
    start.y = 57;
    start.width = 68;
    start.height = 14;
    start.style = kChild | kVisible | kTabStop;

    platform::ControlSpec stop;
    stop.id = IDC_STOPLISTENING;
    stop.kind = ControlKind::PushButton;
    stop.text = "Stop Listening";
    stop.x = 97;
    stop.y = 57;
    stop.width = 63;
    stop.height = 14;
    stop.style = kChild | kVisible | kTabStop;

    table.controls = {list, start, stop};
    return table;
}

void ListeningDialogHandler(platform::DialogEvent event, int controlId) {
    using platform::DialogEvent;
    switch (event) {
    case DialogEvent::Initialised:
        ConnectEventSink(recogniser, eventCookie);
        break;
    case DialogEvent::Destroyed:
        DisconnectEventSink(recogniser, eventCookie);
        break;
    case DialogEvent::Clicked:
        if (controlId == IDC_STARTLISTENING) StartListening();
        if (controlId == IDC_STOPLISTENING) StopListening();
        break;
    case DialogEvent::SelectionChanged:
        if (controlId == IDC_ENGINELIST) {
            const platform::DialogId self = platform::currentDialog();
            const int selected = platform::listSelection(self, IDC_ENGINELIST);
            // A change to no selection names no engine.
            if (selected >= 0) ChooseEngine(platform::listItemText(self, IDC_ENGINELIST, selected));
        }
        break;
    default:
        break;
    }
}

void PollSpeakFile() {
    const std::string now = platform::localTimeStamp();
    if (now == lastPollTime) return;
    lastPollTime = now;
    const std::string text = CheckSpeakFile();
    if (!text.empty()) Speak(text);
}

void RunListeningWindow() {
    SetExchangePaths();
    platform::catchCloseSignals();
    if (!platform::displayAvailable()) {
        RunHeadless();
        return;
    }
    CreateSpeechObjects();

    dialog = platform::dialogCreate(ListeningDialogSpec(engineNames), ListeningDialogHandler);

    // The current engine's first entry in the list is selected.
    const std::string current = CurrentEngineName();
    if (!current.empty()) {
        for (std::size_t i = 0; i < engineNames.size(); ++i) {
            if (engineNames[i] == current) {
                platform::listSelect(dialog, IDC_ENGINELIST, static_cast<int>(i));
                break;
            }
        }
    }

    // The sink is connected while the dialog initialises.
    platform::dialogShow(dialog);
    Speak(kPrompt);

    while (platform::dialogExists(dialog) && !platform::closeRequested()) {
        if (!platform::pumpOneMessage()) platform::waitForMessages(msUntilNextLook());
        PollSpeakFile();
    }
    // Ended by a signal, the window still stands: disconnect as its
    // destruction would have.
    if (platform::dialogExists(dialog)) DisconnectEventSink(recogniser, eventCookie);
    Shutdown();
}

} // namespace listener
