// platform::postToApartment: a call posted from another thread runs on the
// thread that owns the apartment, when that thread pumps its messages.
#include "../../platform/apartment.h"
#include "../../platform/com.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

#if defined(_WIN32)
bool initialiseThread() {
    return true;
}
void uninitialiseThread() {}
bool pumpOne() {
    MSG message;
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return false;
    TranslateMessage(&message);
    DispatchMessageW(&message);
    return true;
}
#else
bool initialiseThread() {
    return SUCCEEDED(CoInitialize(nullptr));
}
void uninitialiseThread() {
    CoUninitialize();
}
bool pumpOne() {
    return VcomApartmentPumpOne() == 1;
}
#endif

struct Seen {
    int runs = 0;
    std::thread::id thread;
};
void note(void* ctx) {
    auto* seen = static_cast<Seen*>(ctx);
    ++seen->runs;
    seen->thread = std::this_thread::get_id();
}

TEST(Apartment, PostedCallRunsOnTheOwningThreadWhenItPumps) {
    ASSERT_TRUE(initialiseThread());
    const platform::ApartmentId apartment = platform::currentApartment();
    ASSERT_NE(apartment, nullptr);
    EXPECT_EQ(platform::currentApartment(), apartment); // one per thread

    Seen seen;
    bool posted = false;
    std::thread([&] { posted = platform::postToApartment(apartment, note, &seen); }).join();
    EXPECT_TRUE(posted);
    EXPECT_EQ(seen.runs, 0); // not before the owner pumps
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen.runs == 0 && std::chrono::steady_clock::now() < giveUp) {
        if (!pumpOne()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(seen.runs, 1);
    EXPECT_EQ(seen.thread, std::this_thread::get_id());
    EXPECT_FALSE(platform::postToApartment(apartment, nullptr, nullptr));
    uninitialiseThread();
}

TEST(Apartment, PostToAThreadThatHasEndedFails) {
    platform::ApartmentId ended = nullptr;
    std::thread([&] {
        if (initialiseThread()) ended = platform::currentApartment();
        // ends without uninitialising: the apartment goes with the thread
    }).join();
    ASSERT_NE(ended, nullptr);
    Seen seen;
    EXPECT_FALSE(platform::postToApartment(ended, note, &seen));
    EXPECT_FALSE(platform::postToApartment(nullptr, note, &seen));
    EXPECT_EQ(seen.runs, 0);
}

} // namespace
