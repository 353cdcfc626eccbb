// Dialog tables rendered on a real display, from inside the program: the
// order of events, list entries and selection, modal results, focus, and the
// loop that runs messages and apartment calls. Run on a private X display
// (natively GTK, under Wine the Win32 dialogs).
#include "../../platform/apartment.h"
#include "../../platform/com.h"
#include "../../platform/dialog.h"
#include "../../platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace platform;

constexpr int kList = 105;
constexpr int kStart = 103;
constexpr int kStop = 108;

// Shaped like the listening window's table, with entries outside ASCII.
DialogSpec listTable() {
    DialogSpec table;
    table.title = "Dialog test";
    table.width = 160;
    table.height = 71;
    table.style = style::kPopup | style::kCaption | style::kSysMenu | style::kDsModalFrame |
                  style::kDsSetFont | style::kDs3dLook | style::kDsCenter;
    table.exStyle = style::kExAppWindow;
    table.font = FontSpec{"MS Sans Serif", 8, 400};
    const std::uint32_t child = style::kChild | style::kVisible | style::kTabStop;
    ControlSpec list;
    list.id = kList;
    list.kind = ControlKind::ListBox;
    list.items = {"Alpha", "Caf\xE9", "Gamma \x80 5", "Alpha"};
    list.width = 160;
    list.height = 56;
    list.style = child | style::kVScroll | style::kLbsNoIntegralHeight | style::kLbsNotify;
    ControlSpec start;
    start.id = kStart;
    start.text = "Start";
    start.y = 57;
    start.width = 68;
    start.height = 14;
    start.style = child;
    ControlSpec stop = start;
    stop.id = kStop;
    stop.text = "Stop";
    stop.x = 97;
    stop.width = 63;
    table.controls = {list, start, stop};
    return table;
}

struct Seen {
    DialogEvent event;
    int control;
    DialogId current;
    bool operator==(const Seen& o) const {
        return event == o.event && control == o.control && current == o.current;
    }
};

struct Recorder {
    std::vector<Seen> seen;
    DialogHandler handler() {
        return [this](DialogEvent event, int control) {
            seen.push_back({event, control, currentDialog()});
        };
    }
    int count(DialogEvent event) const {
        int n = 0;
        for (const Seen& s : seen)
            n += s.event == event;
        return n;
    }
};

// Handles whatever comes for a while (messages, apartment calls).
void pumpFor(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until)
        if (!pumpOneMessage()) waitForMessages(20);
}

TEST(DialogWindow, DisplayIsThere) {
    ASSERT_TRUE(displayAvailable()) << "these tests need a display";
}

// Entries as given (bytes outside ASCII included), no event before
// dialogShow, Initialised first and with the controls ready, and the
// program's own selection changes never reported, also not when the shown
// list takes the focus.
TEST(DialogWindow, EntriesSelectionAndTheOrderOfEvents) {
    for (const int initial : {-1, 2}) {
        SCOPED_TRACE(initial);
        const DialogSpec table = listTable();
        Recorder recorder;
        int selectionAtInit = -99;
        std::string textAtInit;
        const DialogId dialog = dialogCreate(table, [&](DialogEvent event, int control) {
            if (event == DialogEvent::Initialised) {
                selectionAtInit = listSelection(currentDialog(), kList);
                textAtInit = listItemText(currentDialog(), kList, 1);
            }
            recorder.handler()(event, control);
        });
        ASSERT_NE(dialog, 0);
        EXPECT_TRUE(dialogExists(dialog));
        for (std::size_t i = 0; i < table.controls[0].items.size(); ++i)
            EXPECT_EQ(listItemText(dialog, kList, static_cast<int>(i)), table.controls[0].items[i]);
        EXPECT_EQ(listItemText(dialog, kList, 4), "");
        EXPECT_EQ(listSelection(dialog, kList), -1);
        listSelect(dialog, kList, 1);
        EXPECT_EQ(listSelection(dialog, kList), 1);
        listSelect(dialog, kList, initial);
        EXPECT_EQ(listSelection(dialog, kList), initial);
        EXPECT_TRUE(recorder.seen.empty());

        dialogShow(dialog);
        ASSERT_FALSE(recorder.seen.empty());
        EXPECT_EQ(recorder.seen[0], (Seen{DialogEvent::Initialised, 0, dialog}));
        EXPECT_EQ(selectionAtInit, initial);
        EXPECT_EQ(textAtInit, "Caf\xE9");
        pumpFor(500);
        // The focus leaves the list and comes back, as by the Tab key.
        controlSetFocus(dialog, kStart);
        pumpFor(50);
        controlSetFocus(dialog, kList);
        pumpFor(200);
        EXPECT_EQ(listSelection(dialog, kList), initial);
        EXPECT_EQ(recorder.count(DialogEvent::SelectionChanged), 0);
        EXPECT_EQ(recorder.count(DialogEvent::Initialised), 1);
        EXPECT_EQ(currentDialog(), 0); // only while a handler runs

        // Ending a modeless dialog destroys it; Destroyed is its last event.
        dialogEnd(dialog, 0);
        pumpFor(100);
        EXPECT_FALSE(dialogExists(dialog));
        EXPECT_EQ(recorder.seen.back(), (Seen{DialogEvent::Destroyed, 0, dialog}));
        EXPECT_EQ(recorder.count(DialogEvent::Destroyed), 1);
        EXPECT_EQ(listSelection(dialog, kList), -1);
        EXPECT_EQ(listItemText(dialog, kList, 0), "");
    }
}

TEST(DialogWindow, FocusMovesBetweenControls) {
    Recorder recorder;
    const DialogId dialog = dialogCreate(listTable(), recorder.handler());
    ASSERT_NE(dialog, 0);
    dialogShow(dialog);
    pumpFor(200);
    for (const int control : {kStop, kList, kStart}) {
        controlSetFocus(dialog, control);
        pumpFor(50);
        EXPECT_EQ(focusedControl(dialog), control);
    }
    EXPECT_EQ(recorder.count(DialogEvent::Clicked), 0);
    dialogEnd(dialog, 0);
    pumpFor(50);
    EXPECT_EQ(focusedControl(dialog), 0);
}

// A modal dialog returns what dialogEnd gave, from the first handler call
// on or later from the loop; a handler may read its controls meanwhile.
TEST(DialogWindow, ModalDialogReturnsTheResultItWasEndedWith) {
    {
        Recorder recorder;
        const int result = dialogRunModal(listTable(), [&](DialogEvent event, int control) {
            recorder.handler()(event, control);
            if (event == DialogEvent::Initialised) dialogEnd(currentDialog(), 7);
        });
        EXPECT_EQ(result, 7);
        ASSERT_GE(recorder.seen.size(), 2u);
        EXPECT_EQ(recorder.seen.front().event, DialogEvent::Initialised);
        EXPECT_EQ(recorder.seen.back().event, DialogEvent::Destroyed);
        EXPECT_EQ(recorder.seen.front().current, recorder.seen.back().current);
        EXPECT_EQ(recorder.count(DialogEvent::Destroyed), 1);
    }
    {
        // Ended later, from a call that the loop runs.
        std::string entry;
        DialogId modal = 0;
        const int result = dialogRunModal(listTable(), [&](DialogEvent event, int) {
            if (event != DialogEvent::Initialised) return;
            modal = currentDialog();
            entry = listItemText(modal, kList, 2);
            static DialogId toEnd;
            toEnd = modal;
            postToApartment(
                currentApartment(), [](void*) { dialogEnd(toEnd, 3); }, nullptr);
        });
        EXPECT_EQ(result, 3);
        EXPECT_EQ(entry, "Gamma \x80 5");
        EXPECT_FALSE(dialogExists(modal));
    }
}

// A call posted from another thread wakes the waiting loop and runs on the
// loop's thread, one per pumpOneMessage.
TEST(DialogWindow, PostedCallsRunFromTheLoopOnItsThread) {
    const ApartmentId apartment = currentApartment();
    ASSERT_NE(apartment, nullptr);
    struct Ran {
        int count = 0;
        std::thread::id thread;
    } ran;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (int i = 0; i < 2; ++i)
            postToApartment(
                apartment,
                [](void* ctx) {
                    auto* r = static_cast<Ran*>(ctx);
                    ++r->count;
                    r->thread = std::this_thread::get_id();
                },
                &ran);
    });
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ran.count < 2 && std::chrono::steady_clock::now() < giveUp)
        if (!pumpOneMessage()) waitForMessages(10000);
    poster.join();
    EXPECT_EQ(ran.count, 2);
    EXPECT_EQ(ran.thread, std::this_thread::get_id());
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The thread's apartment, as the listening window has it.
    CoInitialize(nullptr);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
