// Events, threads and dynamic libraries of the platform layer, as the CAN bus uses them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/dynlib.h"
#include "platform/events.h"
#include "platform/threads.h"

namespace mf::platform {
namespace {

TEST(Events, AutomaticResetEventIsTakenByOneWait) {
    event_handle e = event_create(nullptr, false, true);
    EXPECT_TRUE(event_wait(e, 0));
    EXPECT_FALSE(event_is_set(e));
    EXPECT_FALSE(event_wait(e, 10));
    event_set(e);
    EXPECT_TRUE(event_wait(e, 0));
    event_close(e);
}

TEST(Events, ManualResetEventStaysSetUntilReset) {
    event_handle e = event_create(nullptr, true, false);
    EXPECT_FALSE(event_wait(e, 0));
    event_set(e);
    EXPECT_TRUE(event_wait(e, 0));
    EXPECT_TRUE(event_wait(e, 0));
    event_reset(e);
    EXPECT_FALSE(event_wait(e, 5));
    event_close(e);
}

TEST(Events, NamesAreSharedUntilTheLastHandleCloses) {
    EXPECT_EQ(event_open("MfTestEvent"), nullptr);
    event_handle a = event_create("MfTestEvent", true, false);
    // A second create opens the same event and keeps its mode and state.
    event_handle b = event_create("MfTestEvent", false, true);
    EXPECT_EQ(a, b);
    EXPECT_FALSE(event_is_set(b));
    event_handle c = event_open("MfTestEvent");
    ASSERT_EQ(c, a);
    event_set(c);
    EXPECT_TRUE(event_is_set(a));
    event_close(a);
    event_close(b);
    EXPECT_NE(event_open("MfTestEvent"), nullptr);  // c and this one still hold it
    event_close(c);
    event_close(c);
    EXPECT_EQ(event_open("MfTestEvent"), nullptr);
    event_close(nullptr);
}

TEST(Events, WaitWakesWhenAnotherThreadSets) {
    event_handle e = event_create(nullptr, false, false);
    std::thread setter([e] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        event_set(e);
    });
    EXPECT_TRUE(event_wait(e, wait_forever));
    setter.join();
    event_close(e);
}

// A waiter keeps the event alive: closing the last handle while another thread waits
// on it must neither block the closer nor free the event under the waiter, named or not.
TEST(Events, ClosingTheLastHandleWhileAnotherThreadWaitsIsSafe) {
    for (const char* name : {static_cast<const char*>(nullptr), "MfTestClosedUnderWaiter"}) {
        for (int round = 0; round < 20; ++round) {
            event_handle e = event_create(name, false, false);
            ASSERT_NE(e, nullptr);
            std::atomic<bool> waiting{false};
            std::atomic<int> taken{-1};
            std::thread waiter([&] {
                waiting = true;
                taken = event_wait(e, 30) ? 1 : 0;
            });
            while (!waiting)
                std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            event_close(e);
            waiter.join();
            EXPECT_EQ(taken.load(), 0);
        }
        if (name) {
            EXPECT_EQ(event_open(name), nullptr);
        }
    }
}

TEST(Threads, JoinTimesOutWhileTheBodyRunsAndSucceedsAfter) {
    event_handle go = event_create(nullptr, true, false);
    std::atomic<int> ran{0};
    thread t;
    ASSERT_TRUE(t.start([&] {
        event_wait(go, wait_forever);
        ran = 1;
    }));
    EXPECT_FALSE(t.start([] {}));
    EXPECT_FALSE(t.join(20));
    EXPECT_TRUE(t.running());
    event_set(go);
    EXPECT_TRUE(t.join(wait_forever));
    EXPECT_EQ(ran.load(), 1);
    EXPECT_FALSE(t.attached());
    EXPECT_TRUE(t.start([] {}));
    EXPECT_TRUE(t.join(wait_forever));
    event_close(go);
}

TEST(DynamicLibraries, FileNameFollowsThePlatformRule) {
#if defined(_WIN32)
    EXPECT_EQ(dynlib_file_name("VaroCANopen"), "VaroCANopen.dll");
#else
    EXPECT_EQ(dynlib_file_name("VaroCANopen"), "libVaroCANopen.so");
#endif
}

TEST(DynamicLibraries, MissingLibraryAndSymbolReportAnError) {
    EXPECT_EQ(dynlib_load("MfNoSuchLibrary"), nullptr);
    EXPECT_NE(dynlib_last_error(), 0);
    dynlib_handle lib = dynlib_load("VaroCANopen");
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(dynlib_symbol(lib, "CAN_Connect"), nullptr);
    EXPECT_EQ(dynlib_symbol(lib, "CAN_NoSuchEntry"), nullptr);
    EXPECT_NE(dynlib_last_error(), 0);
    dynlib_free(lib);
}

}  // namespace
}  // namespace mf::platform
