// Test-only program: renders dialog tables shaped like the listening
// window's and the installer's with the platform's dialog code and prints
// every event it receives, one flushed line each, for end-to-end drivers.
//
//   dialogdemo listen [--items "A|B|C"] [--select N] [--message TEXT]...
//                     [--caption TEXT] [--click-message TEXT]
//       The list entries come from --items or else DIALOGDEMO_ITEMS ('|'
//       between entries). Each --message is shown in a message box before
//       the window; --click-message is shown when "Start Listening" is
//       pressed. Runs the polling loop until the window is gone or a close
//       signal came.
//   dialogdemo install [--status TEXT] [--ready]
//       The installer's modal dialog; the install and exit buttons end it
//       with 1, the run button only when --ready is given.
//   dialogdemo message TEXT [CAPTION]
//
// Output lines: "created", "shown", "event NAME ID", "selection ID INDEX TEXT",
// "remember ID", "restore ID", "message-box-closed", "display unavailable",
// "loop ended (window gone|close signal)", "result N".
#include "../../platform/dialog.h"
#include "../../platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace platform;

const char* eventName(DialogEvent event) {
    switch (event) {
    case DialogEvent::Initialised:
        return "Initialised";
    case DialogEvent::Destroyed:
        return "Destroyed";
    case DialogEvent::Clicked:
        return "Clicked";
    case DialogEvent::SelectionChanged:
        return "SelectionChanged";
    case DialogEvent::Activated:
        return "Activated";
    case DialogEvent::Deactivated:
        return "Deactivated";
    }
    return "?";
}

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::vector<std::string> splitItems(const std::string& joined) {
    std::vector<std::string> items;
    if (joined.empty()) return items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = joined.find('|', start);
        items.push_back(joined.substr(start, bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return items;
}

constexpr int kStart = 103;
constexpr int kList = 105;
constexpr int kStop = 108;

DialogSpec listeningTable(const std::vector<std::string>& items) {
    DialogSpec table;
    table.title = "Verdel Listening Window";
    table.width = 160;
    table.height = 71;
    table.style = style::kPopup | style::kCaption | style::kSysMenu | style::kDsModalFrame |
                  style::kDsSetFont | style::kDs3dLook | style::kDsNoFailCreate | style::kDsCenter;
    table.exStyle = style::kExAppWindow;
    table.font = FontSpec{"MS Sans Serif", 8, 400};
    const std::uint32_t child = style::kChild | style::kVisible | style::kTabStop;
    ControlSpec list;
    list.id = kList;
    list.kind = ControlKind::ListBox;
    list.items = items;
    list.width = 160;
    list.height = 56;
    list.style = child | style::kVScroll | style::kLbsNoIntegralHeight | style::kLbsNotify;
    ControlSpec start;
    start.id = kStart;
    start.text = "Start Listening";
    start.y = 57;
    start.width = 68;
    start.height = 14;
    start.style = child;
    ControlSpec stop = start;
    stop.id = kStop;
    stop.text = "Stop Listening";
    stop.x = 97;
    stop.width = 63;
    table.controls = {list, start, stop};
    return table;
}

DialogSpec installerTable(const std::string& status) {
    DialogSpec table;
    table.title = "Install Verdel Typing Tutor now";
    table.x = 70;
    table.y = 70;
    table.width = 201;
    table.height = 129;
    table.style = style::kPopup | style::kCaption | style::kDsModalFrame | style::kDsSetFont |
                  style::kDsSetForeground | style::kDs3dLook;
    table.font = FontSpec{"MS Sans Serif", 8, 400};
    const std::uint32_t child = style::kChild | style::kVisible | style::kTabStop;
    const struct {
        int id;
        const char* text;
        int y, height;
    } buttons[] = {{1001, "Install (Yes) and Proceed", 5, 25},
                   {1002, "Don't Install (No) and Exit", 35, 25},
                   {1003, "Run The Program (if installed)", 65, 30}};
    for (const auto& b : buttons) {
        ControlSpec button;
        button.id = b.id;
        button.text = b.text;
        button.x = 5;
        button.y = b.y;
        button.width = 190;
        button.height = b.height;
        button.style = child | style::kBsPushButton;
        table.controls.push_back(button);
    }
    ControlSpec box;
    box.id = 1004;
    box.kind = ControlKind::Edit;
    box.text = status;
    box.x = 5;
    box.y = 100;
    box.width = 190;
    box.height = 25;
    box.style = child | style::kEsAutoHScroll;
    box.exStyle = style::kExClientEdge;
    box.font = FontSpec{"MS Sans Serif", 24, 400};
    table.controls.push_back(box);
    return table;
}

const char* option(int argc, char** argv, const char* name) {
    for (int i = 2; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    return nullptr;
}

bool flag(int argc, char** argv, const char* name) {
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

int runListen(int argc, char** argv) {
    catchCloseSignals();
    const char* caption = option(argc, argv, "--caption");
    for (int i = 2; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--message") == 0) {
            messageBox(argv[i + 1], caption != nullptr ? caption : "");
            say("message-box-closed");
        }
    const char* itemsOption = option(argc, argv, "--items");
    const std::string joined =
        itemsOption != nullptr ? itemsOption : environmentVariable("DIALOGDEMO_ITEMS");
    const char* clickMessage = option(argc, argv, "--click-message");
    const std::string clickText = clickMessage != nullptr ? clickMessage : "";

    if (!displayAvailable()) {
        say("display unavailable");
        while (!closeRequested())
            if (!pumpOneMessage()) waitForMessages(1000);
        say("loop ended (close signal)");
        return 0;
    }
    const DialogId dialog =
        dialogCreate(listeningTable(splitItems(joined)), [&](DialogEvent event, int id) {
            say(std::string("event ") + eventName(event) + " " + std::to_string(id));
            if (event == DialogEvent::SelectionChanged) {
                const int index = listSelection(currentDialog(), id);
                say("selection " + std::to_string(id) + " " + std::to_string(index) + " " +
                    listItemText(currentDialog(), id, index));
            }
            if (event == DialogEvent::Clicked && id == kStart && !clickText.empty()) {
                messageBox(clickText, "");
                say("message-box-closed");
            }
        });
    if (dialog == 0) {
        say("dialog not created");
        return 1;
    }
    say("created");
    if (const char* select = option(argc, argv, "--select")) {
        listSelect(dialog, kList, std::atoi(select));
        say("selection-before-show " + std::to_string(listSelection(dialog, kList)));
    }
    dialogShow(dialog);
    say("shown");
    while (dialogExists(dialog) && !closeRequested())
        if (!pumpOneMessage()) waitForMessages(1000);
    say(dialogExists(dialog) ? "loop ended (close signal)" : "loop ended (window gone)");
    return 0;
}

int runInstall(int argc, char** argv) {
    const char* status = option(argc, argv, "--status");
    const bool ready = flag(argc, argv, "--ready");
    int remembered = 0;
    const int result =
        dialogRunModal(installerTable(status != nullptr ? status : "not installed"),
                       [&](DialogEvent event, int id) {
                           say(std::string("event ") + eventName(event) + " " + std::to_string(id));
                           const DialogId dialog = currentDialog();
                           if (event == DialogEvent::Deactivated) {
                               remembered = focusedControl(dialog);
                               say("remember " + std::to_string(remembered));
                           } else if (event == DialogEvent::Activated && remembered != 0) {
                               controlSetFocus(dialog, remembered);
                               say("restore " + std::to_string(remembered));
                               remembered = 0;
                           } else if (event == DialogEvent::Clicked && (id == 1001 || id == 1002)) {
                               dialogEnd(dialog, 1);
                           } else if (event == DialogEvent::Clicked && id == 1003 && ready) {
                               dialogEnd(dialog, 1);
                           }
                       });
    say("result " + std::to_string(result));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "listen") return runListen(argc, argv);
    if (mode == "install") return runInstall(argc, argv);
    if (mode == "message" && argc > 2) {
        messageBox(argv[2], argc > 3 ? argv[3] : "");
        say("message-box-closed");
        return 0;
    }
    std::fprintf(stderr, "usage: dialogdemo listen|install|message ...\n");
    return 2;
}
