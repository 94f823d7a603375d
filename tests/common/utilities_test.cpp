#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/alloc.h"
#include "common/bytes.h"
#include "common/dirs.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/hooks.h"
#include "common/msg.h"
#include "common/text.h"
#include "common/timeutil.h"
#include "platform/clock.h"
#include "platform/large_memory.h"
#include "tests/support/alloc_fail.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace mf {

TEST(SwapBytes, ReversesTwoFourAndEightBytes) {
    unsigned char two[] = {0x11, 0x22};
    u_swap_bytes(two, 2);
    EXPECT_EQ(two[0], 0x22);
    EXPECT_EQ(two[1], 0x11);
    unsigned char four[] = {0x11, 0x22, 0x33, 0x44};
    u_swap_bytes(four, 4);
    EXPECT_EQ(std::memcmp(four, "\x44\x33\x22\x11", 4), 0);
    unsigned char eight[] = {1, 2, 3, 4, 5, 6, 7, 8};
    u_swap_bytes(eight, 8);
    EXPECT_EQ(std::memcmp(eight, "\x08\x07\x06\x05\x04\x03\x02\x01", 8), 0);
}

TEST(SwapBytesDeathTest, OtherSizesAbortWithMessage) {
    unsigned char three[3] = {};
    EXPECT_DEATH(u_swap_bytes(three, 3), "u_swap_bytes: n=3");
}

TEST(FileExists, OnlyRegularFiles) {
    test::TempDir dir;
    test::write_file(dir.file("a.txt"), "x");
    EXPECT_TRUE(u_file_exists(dir.file("a.txt").c_str()));
    EXPECT_FALSE(u_file_exists(dir.path().c_str()));
    EXPECT_FALSE(u_file_exists(dir.file("missing").c_str()));
    EXPECT_FALSE(u_file_exists(""));
    EXPECT_FALSE(u_file_exists(nullptr));
}

// A path that starts with the UTF-16 signature names the file by its UTF-16 text.
TEST(FileExists, WidePathConvention) {
    test::TempDir dir;
    std::u16string units;
    for (char c : dir.file("wide"))
        units += static_cast<char16_t>(static_cast<unsigned char>(c));
    units += u"\u00E9.dat";
    std::ofstream(std::filesystem::path(units), std::ios::binary) << 'x';
    std::string wide = "\xFF\xFE";  // 0xFEFF read little-endian
    for (char16_t u : units) {
        wide += static_cast<char>(u & 0xFF);
        wide += static_cast<char>(u >> 8);
    }
    wide += std::string(2, '\0');
    EXPECT_TRUE(u_file_exists(wide.c_str()));
    std::FILE* f = u_fopen(wide.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fgetc(f), 'x');
    std::fclose(f);
    wide[dir.file("wide").size() * 2 + 2] = 'e';  // now names a file that does not exist
    EXPECT_FALSE(u_file_exists(wide.c_str()));
}

// The scan of a wide path is bounded; argument-vector names never take the
// wide form.
TEST(FileExists, WideScanIsBoundedAndArgumentsAreNarrow) {
    std::string wide = "\xFF\xFE";
    wide += std::string(2 * u_wide_path_max_units, 'a');
    wide += std::string(2, '\0');
    auto units = u_wide_path(wide.c_str());
    ASSERT_TRUE(units.has_value());
    EXPECT_EQ(units->size(), u_wide_path_max_units);
    wide.insert(2, "aa");
    EXPECT_FALSE(u_wide_path(wide.c_str()).has_value());

    EXPECT_EQ(u_argument_path("\xFF\xFEname"), "./\xFF\xFEname");
    EXPECT_EQ(u_argument_path("\xFE\xFFname"), "./\xFE\xFFname");
    EXPECT_FALSE(u_wide_path(u_argument_path("\xFF\xFEname").c_str()).has_value());
    for (const char* kept : {"name", "\xFF", "\xFFname", "/abs/\xFF\xFE", ""})
        EXPECT_EQ(u_argument_path(kept), kept);
}

// allocate_large gives a usable zero-filled block for every size, even 0.
TEST(LargeBlocks, EverySizeIsUsable) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{2} << 20, (std::size_t{2} << 20) + 1}) {
        SCOPED_TRACE(size);
        auto* block = static_cast<unsigned char*>(platform::allocate_large(size));
        ASSERT_NE(block, nullptr);
        const std::size_t last = size == 0 ? 0 : size - 1;
        EXPECT_EQ(block[0], 0);
        EXPECT_EQ(block[last], 0);
        block[0] = 1;
        block[last] = 1;
        platform::release_large(block, size);
    }
}

TEST(CopyFile, ReplacesDestinationAndReportsFailure) {
    test::TempDir dir;
    test::write_file(dir.file("src"), "new contents");
    test::write_file(dir.file("dst"), "old contents that are longer");
    EXPECT_EQ(u_copy_file(dir.file("src").c_str(), dir.file("dst").c_str()), 0);
    EXPECT_EQ(test::read_file(dir.file("dst")), "new contents");

    test::SinkCapture sink;
    EXPECT_EQ(u_copy_file(dir.file("missing").c_str(), dir.file("dst").c_str()), ERR_CANT_WRITE_FILE);
    EXPECT_EQ(sink.text().rfind("u_copy_file failed: win_err = ", 0), 0u);
    EXPECT_EQ(test::read_file(dir.file("dst")), "new contents");
    // The copy goes through a file beside the destination; none is left behind.
    EXPECT_EQ(dir.entries().size(), 2u);
}

TEST(Strxcmp, RelaxedKeywordComparison) {
    EXPECT_EQ(strxcmp("Camera Type:", "CAMERATYPE"), 0);
    EXPECT_EQ(strxcmp("  camera\ttype ", "CAMERA TYPE"), 0);
    EXPECT_EQ(strxcmp("\"a b\"", "\"A B\""), 0);
    EXPECT_NE(strxcmp("\"a b\"", "\"AB\""), 0);
    EXPECT_EQ(strxcmp("abc", "ABD"), -1);
    EXPECT_EQ(strxcmp("abd", "ABC"), 1);
    // Only the text's colons count as blanks, not the keyword's.
    EXPECT_EQ(strxcmp("a:b", "A:B"), 1);
}

TEST(Strxcmp, OutOfMemoryGivesZeroAndMessage) {
    test::SinkCapture sink;
    for (int k = 1; k <= 2; ++k) {
        test::AllocFailure fail(k);
        EXPECT_EQ(strxcmp("abc", "XYZ"), 0);
        EXPECT_EQ(fail.outstanding(), 0);
    }
    EXPECT_EQ(sink.text(), "strxcmp: out of memory\nstrxcmp: out of memory\n");
}

TEST(Trim, BlanksTabsNewlinesButNotCarriageReturns) {
    char text[] = " \t hello world \n\t";
    EXPECT_EQ(u_trim(text), 6);
    EXPECT_STREQ(text, "hello world");
    char blanks[] = "     ";
    EXPECT_EQ(u_trim(blanks), 5);
    EXPECT_STREQ(blanks, "");
    char cr[] = "line\r\n";
    EXPECT_EQ(u_trim(cr), 1);
    EXPECT_STREQ(cr, "line\r");
}

TEST(IntegerPower, RepeatedSquaringAndNegativeExponents) {
    EXPECT_DOUBLE_EQ(u_ipow(2.0, 10), 1024.0);
    EXPECT_DOUBLE_EQ(u_ipow(3.0, 0), 1.0);
    EXPECT_DOUBLE_EQ(u_ipow(2.0, -3), 0.125);
    EXPECT_DOUBLE_EQ(u_ipow(-1.5, 3), -3.375);
    EXPECT_DOUBLE_EQ(u_ipow(1.0, INT_MIN), 1.0);
}

class VirtualTime : public testing::Test {
protected:
    void SetUp() override { platform::set_clock(&clock_); }
    void TearDown() override { platform::set_clock(nullptr); }
    platform::VirtualClock clock_{1700000000123};
};

TEST_F(VirtualTime, SecondsNowAndStopwatchFollowTheClock) {
    EXPECT_DOUBLE_EQ(u_seconds_now(), 1700000000.123);
    u_stopwatch_start();
    platform::sleep_ms(2500);
    EXPECT_NEAR(u_stopwatch_elapsed(), 2.5, 1e-6);
    EXPECT_EQ(clock_.slept_ms(), 2500);
}

TEST_F(VirtualTime, MsgTimePrefixesLocalTimeStamp) {
    test::SinkCapture sink;
    u_msg_time("step %d failed\n", 3);
    char stamp[41];
    std::time_t t = 1700000000;
    u_time_text(stamp, &t);
    EXPECT_EQ(sink.text(), std::string(stamp) + " step 3 failed\n");
    EXPECT_EQ(std::strlen(stamp), 19u);
}

TEST(MsgTime, LongMessagesAreCutAt511Characters) {
    test::SinkCapture sink;
    std::string longer(600, 'x');
    u_msg_time("%s", longer.c_str());
    EXPECT_EQ(sink.text().size(), 20u + 511u);
}

TEST(MessageSink, StreamQueryAndRestore) {
    EXPECT_EQ(u_msg_sink_stream(), stderr);
    u_set_msg_sink(&u_msg_stdout);
    EXPECT_EQ(u_msg_sink_stream(), stdout);
    {
        test::SinkCapture sink;
        EXPECT_EQ(u_msg_sink_stream(), nullptr);
    }
    EXPECT_EQ(u_msg_sink_stream(), stdout);
    u_set_msg_sink(nullptr);
    EXPECT_EQ(u_msg_sink_stream(), stderr);
}

// Lines printed from two threads through u_msg_time each arrive whole: stamp and text
// of one line are never split by another thread's line.
TEST(MsgTime, LinesFromTwoThreadsArriveWhole) {
    test::SinkCapture sink;
    std::atomic<int> ready{0};
    auto print = [&ready](char tag) {
        ++ready;
        while (ready < 2)
            std::this_thread::yield();
        for (int i = 0; i < 2000; ++i)
            u_msg_time("line %c\n", tag);
    };
    std::thread other(print, 'b');
    print('a');
    other.join();
    std::istringstream lines(sink.text());
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_EQ(line.size(), 26u) << line;
        EXPECT_TRUE(line.ends_with(" line a") || line.ends_with(" line b")) << line;
    }
    EXPECT_EQ(count, 4000);
}

namespace {
std::atomic<int> other_sink_calls{0};
void other_sink(const char*, ...) { ++other_sink_calls; }
void* counting_allocate(std::size_t size) { return std::malloc(size); }
void other_idle() {}
}  // namespace

// The host may set the sink and the hooks while a background thread prints, polls
// and allocates (the thread sanitizer leg checks there is no race).
TEST(Hooks, SinkIdleAndAllocationHooksMayChangeWhileAnotherThreadUsesThem) {
    const u_msg_fn saved_sink = u_get_msg_sink();
    const u_alloc_hooks saved_hooks = u_get_alloc_hooks();
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread user([&] {
        while (!stop) {
            u_sink("%s", "");
            u_idle();
            u_free(u_malloc(16));
            ++rounds;
        }
    });
    while (rounds == 0)
        std::this_thread::yield();
    u_alloc_hooks counting = u_default_alloc_hooks();
    counting.allocate = &counting_allocate;
    for (int i = 0; i < 2000; ++i) {
        u_set_msg_sink(i % 2 ? &other_sink : saved_sink);
        u_set_idle_hook(i % 2 ? &other_idle : nullptr);
        u_set_alloc_hooks(i % 2 ? counting : saved_hooks);
        if (i % 100 == 0) std::this_thread::yield();
    }
    stop = true;
    user.join();
    u_set_msg_sink(saved_sink);
    u_set_idle_hook(nullptr);
    u_set_alloc_hooks(saved_hooks);
    EXPECT_EQ(u_get_msg_sink(), saved_sink);
}

TEST(CounterTimers, DifferenceRoundsAndLapsAreMonotonic) {
    EXPECT_EQ(u_counter_diff(100, 100), 0);
    int64_t a = u_counter_raw();
    int64_t b = u_counter_raw();
    EXPECT_GE(u_counter_diff(a, b), 0);
    EXPECT_GE(u_counter_lap(), 0);
    int64_t first = u_counter_now();
    EXPECT_GE(u_counter_now(), first);
}

TEST(MachineName, FirstCallFixesTheSuffix) {
    std::string first = u_machine_name(3);
    EXPECT_EQ(first.substr(first.size() - 2), ".3");
    EXPECT_EQ(std::string(u_machine_name(5)), first);
    EXPECT_LE(first.size(), 17u);
}

namespace {
int idle_calls = 0;
void count_idle() { ++idle_calls; }
}  // namespace

TEST(IdleHook, EmptyUntilSetAndRestorable) {
    u_idle();
    u_set_idle_hook(&count_idle);
    u_idle();
    u_idle();
    u_set_idle_hook(nullptr);
    u_idle();
    EXPECT_EQ(idle_calls, 2);
}

}  // namespace mf
