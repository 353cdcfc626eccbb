// With no display (Linux): no windows, message boxes return at once, and the
// loop still waits for its time-out, an apartment call or a close signal.
// Run with DISPLAY and WAYLAND_DISPLAY unset.
#include "../../platform/apartment.h"
#include "../../platform/dialog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace {

using namespace platform;
using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(DialogHeadless, NoDisplayMeansNoWindowsAndNoWaitingForBoxes) {
    ASSERT_FALSE(displayAvailable()) << "run with DISPLAY and WAYLAND_DISPLAY unset";
    DialogSpec table;
    table.title = "Nowhere";
    bool called = false;
    const DialogHandler handler = [&](DialogEvent, int) { called = true; };
    EXPECT_EQ(dialogCreate(table, handler), 0);
    EXPECT_EQ(dialogRunModal(table, handler), -1);
    EXPECT_FALSE(dialogExists(0));
    dialogShow(0);
    dialogEnd(0, 1);
    EXPECT_EQ(listSelection(0, 105), -1);
    EXPECT_EQ(focusedControl(0), 0);
    messageBox("SpeechKit not installed", ""); // returns: nobody could close it
    EXPECT_FALSE(called);
    EXPECT_FALSE(pumpOneMessage());
}

TEST(DialogHeadless, WaitBlocksForItsTimeout) {
    const auto start = Clock::now();
    waitForMessages(300);
    EXPECT_GE(msSince(start), 290);
}

// Each close signal ends the wait at once and is remembered; the program
// lives on to close down in its own way. In a child process each, as the
// request cannot be taken back.
TEST(DialogHeadless, CloseSignalsWakeTheWaitAndAreRemembered) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        EXPECT_EXIT(
            {
                catchCloseSignals();
                if (closeRequested()) std::exit(3);
                std::thread([sig] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    std::raise(sig);
                }).detach();
                const auto start = Clock::now();
                while (!closeRequested() && msSince(start) < 20000)
                    waitForMessages(30000);
                std::exit(closeRequested() && msSince(start) < 20000 ? 0 : 4);
            },
            ::testing::ExitedWithCode(0), "");
    }
}

TEST(DialogHeadless, ApartmentCallWakesTheWait) {
    const ApartmentId apartment = currentApartment();
    ASSERT_NE(apartment, nullptr);
    int ran = 0;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        postToApartment(
            apartment, [](void* ctx) { ++*static_cast<int*>(ctx); }, &ran);
    });
    const auto start = Clock::now();
    bool pumped = false;
    while (!pumped && msSince(start) < 20000) {
        waitForMessages(30000);
        pumped = pumpOneMessage();
    }
    EXPECT_LT(msSince(start), 20000); // woken, not timed out
    poster.join();
    EXPECT_TRUE(pumped);
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(pumpOneMessage());
}

} // namespace
