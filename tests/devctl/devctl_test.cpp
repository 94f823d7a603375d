#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "calfile/sysinfo.h"
#include "can/can_events.h"
#include "common/error_codes.h"
#include "devctl/devctl.h"
#include "devctl/motion.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/pty.h"
#include "serial/sio.h"
#include "tests/support/capture.h"

namespace mf {
namespace {

using steady = std::chrono::steady_clock;

int64_t ms_since(steady::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - start).count();
}

// Test functions that count their calls and answer from a flag; installed over a
// registered row's own test.
std::atomic<int> probe_calls[dev_row_count];
std::atomic<bool> probe_ready[dev_row_count];
template <int Row>
bool probe(dev_handle, void*) {
    ++probe_calls[Row];
    return probe_ready[Row].load();
}
constexpr dev_test_fn probes[dev_row_count] = {probe<0>, probe<1>, probe<2>, probe<3>, probe<4>,
                                               probe<5>, probe<6>, probe<7>, probe<8>, probe<9>};

class DevCntrl : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < dev_row_count; ++i) {
            probe_calls[i] = 0;
            probe_ready[i] = false;
        }
        ASSERT_EQ(dev_init_cntrl(true), 0);
        sink.clear();
    }
    // Registers a serial device and puts a counting test in its place.
    int add_probe(int32_t type, dev_handle handle) {
        EXPECT_EQ(dev_add_device(type, handle, nullptr), 0);
        for (int i = 0; i < dev_row_count; ++i)
            if (gl_DevInfo.rows[i].handle == handle) {
                gl_DevInfo.rows[i].test = probes[i];
                return i;
            }
        return -1;
    }
    test::SinkCapture sink;
};

TEST(DevCntrlLifecycle, UninitializedTableRefusesEverything) {
    dev_free_cntrl();
    test::SinkCapture sink;
    EXPECT_FALSE(dev_is_initialized());
    EXPECT_EQ(dev_add_device(DEV_SERIAL_BOARD, 5, nullptr), ERR_DEV_CNTRL);
    EXPECT_EQ(dev_remove_device(5), ERR_DEV_CNTRL);
    EXPECT_EQ(dev_set_event_state(5, 1), ERR_DEV_CNTRL);
    EXPECT_FALSE(dev_is_registered(5));
    EXPECT_EQ(dev_data_read(DEV_ALL_TYPES, nullptr, false), 0);
    EXPECT_EQ(sink.text(),
              "dev_add_device failed: err=ERR_DEV_CNTRL\n"
              "dev_remove_device failed: err=ERR_DEV_CNTRL\n"
              "dev_set_event_state failed: err=ERR_DEV_CNTRL\n"
              "dev_data_read: ERR_DEV_CNTRL\n");
}

TEST(DevCntrlLifecycle, InitCreatesNamedManualResetEventsAndResetKeepsThem) {
    dev_free_cntrl();
    EXPECT_EQ(platform::event_open("StartEvent"), nullptr);
    ASSERT_EQ(dev_init_cntrl(false), 0);
    const char* names[] = {"StartEvent", "StopEvent", "DoneEvent1", "DoneEvent2"};
    for (int e = 0; e < DEV_EVENT_COUNT; ++e) {
        platform::event_handle h = platform::event_open(names[e]);
        ASSERT_EQ(h, gl_DevInfo.events[e]) << names[e];
        EXPECT_FALSE(platform::event_is_set(h)) << names[e];
        platform::event_close(h);
    }
    ASSERT_EQ(dev_add_device(DEV_SERIAL_4, 7, nullptr), 0);

    // Without reset an initialized table is left alone.
    platform::event_handle start = gl_DevInfo.events[DEV_START_EVENT];
    EXPECT_EQ(dev_init_cntrl(false), 0);
    EXPECT_TRUE(dev_is_registered(7));

    EXPECT_EQ(dev_init_cntrl(true), 0);
    EXPECT_FALSE(dev_is_registered(7));
    EXPECT_EQ(gl_DevInfo.count, 0);
    EXPECT_EQ(gl_DevInfo.events[DEV_START_EVENT], start);
    for (const dev_record& row : gl_DevInfo.rows) {
        EXPECT_EQ(row.handle, DEV_INVALID_HANDLE);
        EXPECT_EQ(row.in_use, -1);
        EXPECT_EQ(row.type, 0);
        EXPECT_EQ(row.enabled, 0);
        EXPECT_EQ(row.test, nullptr);
        EXPECT_EQ(row.object, nullptr);
    }
    // The worker still answers after the reset.
    EXPECT_EQ(dev_data_read(DEV_ALL_TYPES, nullptr, false), DEV_NOTHING_FOUND);
}

TEST(DevCntrlLifecycle, FreeStopsTheWorkerAndInitStartsAnotherOne) {
    ASSERT_EQ(dev_init_cntrl(false), 0);
    dev_free_cntrl();
    EXPECT_FALSE(gl_DevInfo.worker.attached());
    EXPECT_EQ(platform::event_open("DoneEvent2"), nullptr);
    ASSERT_EQ(dev_init_cntrl(false), 0);
    EXPECT_EQ(dev_data_read(DEV_ALL_TYPES, nullptr, false), DEV_NOTHING_FOUND);
}

// Whichever of the four events cannot be created, the table stays uninitialized
// with no worker and no events left behind, and every call refuses cleanly.
TEST(DevCntrlLifecycle, AnEventThatCannotBeCreatedFailsTheInitAndStartsNoWorker) {
    for (int failing = 0; failing < DEV_EVENT_COUNT; ++failing) {
        SCOPED_TRACE(failing);
        dev_free_cntrl();
        test::SinkCapture sink;
        platform::event_fail_creation_after(failing);
        EXPECT_EQ(dev_init_cntrl(false), ERR_DEV_CNTRL);
        platform::event_fail_creation_after(-1);
        EXPECT_EQ(sink.text(), "dev_init_cntrl failed: ERR_DEV_CNTRL\n");
        EXPECT_FALSE(dev_is_initialized());
        EXPECT_FALSE(gl_DevInfo.worker.attached());
        for (const char* name : {"StartEvent", "StopEvent", "DoneEvent1", "DoneEvent2"})
            EXPECT_EQ(platform::event_open(name), nullptr) << name;
        for (platform::event_handle e : gl_DevInfo.events)
            EXPECT_EQ(e, nullptr);
        sink.clear();
        EXPECT_EQ(dev_data_read(DEV_ALL_TYPES, nullptr, false), 0);
        EXPECT_EQ(sink.text(), "dev_data_read: ERR_DEV_CNTRL\n");
    }
    ASSERT_EQ(dev_init_cntrl(false), 0);
    EXPECT_EQ(dev_data_read(DEV_ALL_TYPES, nullptr, false), DEV_NOTHING_FOUND);
}

TEST(DevTypeValid, AcceptsExactlyTheSevenTypeBits) {
    test::SinkCapture sink;
    for (int32_t t : {1, 2, 4, 8, 16, 32, 64})
        EXPECT_TRUE(dev_type_valid(t)) << t;
    EXPECT_EQ(sink.text(), "");
    for (int32_t t : {0, 3, 128, 0xFFFF, -1})
        EXPECT_FALSE(dev_type_valid(t)) << t;
    EXPECT_EQ(sink.text(),
              "dev_type_valid: dev_type=0 is invalid\n"
              "dev_type_valid: dev_type=3 is invalid\n"
              "dev_type_valid: dev_type=128 is invalid\n"
              "dev_type_valid: dev_type=65535 is invalid\n"
              "dev_type_valid: dev_type=-1 is invalid\n");
}

TEST_F(DevCntrl, TestFunctionIsChosenByType) {
    mc_controller serial_mc{}, event_mc{}, library_mc{};
    mc_controller_init(&serial_mc, 1, "s");
    mc_controller_init(&event_mc, 2, "e");
    mc_controller_init(&library_mc, 3, "l");
    sysInfo can_instrument{};
    ASSERT_EQ(dev_add_device(DEV_MOTION, 101, &serial_mc), 0);
    ASSERT_EQ(dev_add_device(DEV_MOTION, 102, &event_mc), 0);
    ASSERT_EQ(dev_add_device(DEV_MOTION, 103, &library_mc), 0);
    ASSERT_EQ(dev_add_device(DEV_SERIAL_BOARD, 104, nullptr), 0);
    ASSERT_EQ(dev_add_device(DEV_SERIAL_4, 105, nullptr), 0);
    ASSERT_EQ(dev_add_device(DEV_SERIAL_8, 106, nullptr), 0);
    ASSERT_EQ(dev_add_device(DEV_SERIAL_16, 107, nullptr), 0);
    ASSERT_EQ(dev_add_device(DEV_CONSOLE, 108, nullptr), 0);
    ASSERT_EQ(dev_add_device(DEV_CAN, 109, &can_instrument), 0);
    const dev_test_fn expected[] = {
        dev_serial_input_waiting, dev_event_signalled,      dev_motion_event,         dev_serial_input_waiting,
        dev_serial_input_waiting, dev_serial_input_waiting, dev_serial_input_waiting, nullptr,
        dev_can_events_waiting};
    for (int i = 0; i < 9; ++i) {
        const dev_record& row = gl_DevInfo.rows[i];
        EXPECT_EQ(row.handle, 101 + i);
        EXPECT_EQ(row.in_use, 1);
        EXPECT_EQ(row.enabled, 1);
        EXPECT_EQ(row.test, expected[i]) << i;
    }
    EXPECT_EQ(gl_DevInfo.rows[0].object, &serial_mc);
    EXPECT_EQ(gl_DevInfo.rows[8].object, &can_instrument);
    EXPECT_EQ(gl_DevInfo.rows[8].type, DEV_CAN);
    EXPECT_EQ(gl_DevInfo.count, 9);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(DevCntrl, MotionControllerRegistrationFailuresLeaveTheRowFree) {
    mc_controller mc{};
    mc_controller_init(&mc, 4, "x");
    EXPECT_EQ(dev_add_device(DEV_MOTION, 11, &mc), ERR_MC_NOT_AVAIL);
    EXPECT_EQ(dev_add_device(DEV_MOTION, 12, nullptr), ERR_INVALID_PARAM);
    EXPECT_EQ(dev_add_device(3, 13, nullptr), ERR_DEV_CNTRL);
    EXPECT_EQ(dev_add_device(DEV_SERIAL_BOARD, DEV_INVALID_HANDLE, nullptr), ERR_INVALID_PARAM);
    EXPECT_EQ(gl_DevInfo.count, 0);
    EXPECT_EQ(gl_DevInfo.rows[0].in_use, -1);
    EXPECT_EQ(sink.text(),
              "dev_add_device failed: err=ERR_MC_NOT_AVAIL\n"
              "dev_add_device failed: err=ERR_INVALID_PARAM\n"
              "dev_type_valid: dev_type=3 is invalid\n"
              "dev_add_device failed: err=ERR_DEV_CNTRL\n"
              "dev_add_device failed: err=ERR_INVALID_PARAM\n");
}

TEST_F(DevCntrl, EleventhDeviceIsRefusedAndTheTenRowsStay) {
    for (int i = 0; i < dev_row_count; ++i)
        ASSERT_EQ(dev_add_device(DEV_SERIAL_8, 200 + i, nullptr), 0);
    dev_table before = {};
    for (int i = 0; i < dev_row_count; ++i)
        before.rows[i] = gl_DevInfo.rows[i];
    EXPECT_EQ(dev_add_device(DEV_SERIAL_8, 300, nullptr), ERR_DEV_CNTRL);
    EXPECT_EQ(sink.text(), "gl_DevInfo table is fulldev_add_device failed: err=ERR_DEV_CNTRL\n");
    EXPECT_EQ(gl_DevInfo.count, 10);
    for (int i = 0; i < dev_row_count; ++i) {
        EXPECT_EQ(gl_DevInfo.rows[i].handle, before.rows[i].handle);
        EXPECT_EQ(gl_DevInfo.rows[i].in_use, 1);
    }
    EXPECT_FALSE(dev_is_registered(300));

    // The first free row in index order is taken again.
    ASSERT_EQ(dev_remove_device(203), 0);
    ASSERT_EQ(dev_remove_device(201), 0);
    EXPECT_EQ(gl_DevInfo.count, 8);
    ASSERT_EQ(dev_add_device(DEV_SERIAL_16, 301, nullptr), 0);
    EXPECT_EQ(gl_DevInfo.rows[1].handle, 301);
    EXPECT_EQ(gl_DevInfo.rows[1].type, DEV_SERIAL_16);
    EXPECT_EQ(gl_DevInfo.rows[3].in_use, -1);
}

TEST_F(DevCntrl, RemoveAndSetStateErrors) {
    EXPECT_EQ(dev_remove_device(DEV_INVALID_HANDLE), ERR_INVALID_PARAM);
    EXPECT_EQ(dev_remove_device(40), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_FALSE(dev_is_registered(40));
    ASSERT_EQ(dev_add_device(DEV_SERIAL_BOARD, 40, nullptr), 0);
    EXPECT_TRUE(dev_is_registered(40));
    EXPECT_FALSE(dev_is_registered(DEV_INVALID_HANDLE));
    EXPECT_EQ(dev_remove_device(41), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(dev_set_event_state(DEV_INVALID_HANDLE, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(dev_set_event_state(40, 2), ERR_INVALID_PARAM);
    EXPECT_EQ(dev_set_event_state(41, 0), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(dev_set_event_state(40, 0), 0);
    EXPECT_EQ(gl_DevInfo.rows[0].enabled, 0);
    EXPECT_EQ(dev_set_event_state(40, 1), 0);
    EXPECT_EQ(gl_DevInfo.rows[0].enabled, 1);
    EXPECT_EQ(sink.text(),
              "dev_remove_device failed: err=ERR_INVALID_PARAM\n"
              "dev_remove_device failed: err=ERR_PARAM_OUT_OF_RANGE\n"
              "dev_remove_device failed: err=ERR_PARAM_OUT_OF_RANGE\n"
              "dev_set_event_state failed: err=ERR_INVALID_PARAM\n"
              "dev_set_event_state failed: err=ERR_INVALID_PARAM\n"
              "dev_set_event_state failed: err=ERR_PARAM_OUT_OF_RANGE\n");
    EXPECT_EQ(dev_remove_device(40), 0);
    EXPECT_EQ(gl_DevInfo.count, 0);
    EXPECT_EQ(gl_DevInfo.rows[0].handle, DEV_INVALID_HANDLE);
}

TEST_F(DevCntrl, MaskMustBeOneTypeOrAll) {
    EXPECT_EQ(dev_data_read(3, nullptr, true), 0);
    EXPECT_EQ(sink.text(), "dev_type_valid: dev_type=3 is invalid\ndev_data_read: ERR_DEV_CNTRL\n");
    sink.clear();
    EXPECT_EQ(dev_data_read(DEV_ALL_TYPES, nullptr, false), DEV_NOTHING_FOUND);
    EXPECT_EQ(dev_data_read(DEV_CONSOLE, nullptr, false), DEV_NOTHING_FOUND);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(DevCntrl, SinglePassFindsTheFirstReadyRowOfTheMask) {
    add_probe(DEV_SERIAL_BOARD, 50);
    add_probe(DEV_SERIAL_4, 51);
    int ready = add_probe(DEV_SERIAL_4, 52);
    probe_ready[0] = true;  // ready, but not of the requested type
    probe_ready[ready] = true;
    gl_DevInfo.rows[ready].object = &probe_calls;

    dev_record out{};
    EXPECT_EQ(dev_data_read(DEV_SERIAL_4, &out, false), DEV_SERIAL_4);
    EXPECT_EQ(out.handle, 52);
    EXPECT_EQ(out.in_use, 1);
    EXPECT_EQ(out.type, DEV_SERIAL_4);
    EXPECT_EQ(out.object, static_cast<void*>(&probe_calls));
    EXPECT_EQ(gl_DevInfo.found_index, ready);
    EXPECT_EQ(gl_DevInfo.found_type, DEV_SERIAL_4);
    EXPECT_EQ(probe_calls[0], 0);
    EXPECT_EQ(probe_calls[1], 1);
    EXPECT_EQ(probe_calls[ready], 1);

    // Removing the found row forgets the find.
    ASSERT_EQ(dev_remove_device(52), 0);
    EXPECT_EQ(gl_DevInfo.found_index, -1);
    EXPECT_EQ(gl_DevInfo.found_type, 0);
}

TEST_F(DevCntrl, SinglePassWithNothingReadyReturnsWithinARound) {
    add_probe(DEV_SERIAL_BOARD, 60);
    add_probe(DEV_SERIAL_BOARD, 61);
    auto start = steady::now();
    EXPECT_EQ(dev_data_read(DEV_SERIAL_BOARD, nullptr, false), DEV_NOTHING_FOUND);
    EXPECT_LT(ms_since(start), 150);
    // Exactly one pass: each eligible row tested once.
    EXPECT_EQ(probe_calls[0], 1);
    EXPECT_EQ(probe_calls[1], 1);
    EXPECT_EQ(gl_DevInfo.found_index, -1);
}

TEST_F(DevCntrl, DisabledRowIsNeverTestedUntilEnabledAgain) {
    int row = add_probe(DEV_SERIAL_8, 70);
    probe_ready[row] = true;
    ASSERT_EQ(dev_set_event_state(70, 0), 0);
    EXPECT_EQ(dev_data_read(DEV_SERIAL_8, nullptr, false), DEV_NOTHING_FOUND);
    EXPECT_EQ(probe_calls[row], 0);
    ASSERT_EQ(dev_set_event_state(70, 1), 0);
    EXPECT_EQ(dev_data_read(DEV_SERIAL_8, nullptr, false), DEV_SERIAL_8);
    EXPECT_EQ(probe_calls[row], 1);
}

TEST_F(DevCntrl, WaitingReadKeepsPollingInRoundsUntilADeviceIsReady) {
    int row = add_probe(DEV_SERIAL_16, 80);
    std::thread peer([row] {
        std::this_thread::sleep_for(std::chrono::milliseconds(350));
        probe_ready[row] = true;
    });
    auto start = steady::now();
    dev_record out{};
    EXPECT_EQ(dev_data_read(DEV_SERIAL_16, &out, true), DEV_SERIAL_16);
    int64_t waited = ms_since(start);
    peer.join();
    EXPECT_EQ(out.handle, 80);
    EXPECT_GE(waited, 340);
    // Passes 50 ms apart: several, but nowhere near a busy loop.
    EXPECT_GE(probe_calls[row], 4);
    EXPECT_LE(probe_calls[row], 12);
}

TEST_F(DevCntrl, WaitingReadWithNoEligibleDeviceDoesNotReturn) {
    add_probe(DEV_SERIAL_BOARD, 90);  // not of the requested type
    int row = add_probe(DEV_SERIAL_4, 91);
    probe_ready[0] = true;
    probe_ready[row] = true;
    ASSERT_EQ(dev_set_event_state(91, 0), 0);
    std::atomic<int32_t> result{-1};
    std::thread reader([&] { result = dev_data_read(DEV_SERIAL_4, nullptr, true); });
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    EXPECT_EQ(result.load(), -1);
    EXPECT_EQ(probe_calls[0], 0);
    EXPECT_EQ(probe_calls[row], 0);
    // Position reports switched on from another thread: the row is eligible in the
    // next pass and ends the wait.
    ASSERT_EQ(dev_set_event_state(91, 1), 0);
    reader.join();
    EXPECT_EQ(result.load(), DEV_SERIAL_4);
    EXPECT_EQ(probe_calls[row], 1);
}

// A serial port whose peer "writes" bytes by raising the input count, and can
// report line errors once (the status query clears them).
class PeerPort : public platform::SerialPort {
public:
    explicit PeerPort(std::shared_ptr<std::atomic<uint32_t>> in,
                      std::shared_ptr<std::atomic<uint32_t>> errors = nullptr)
        : in_(std::move(in)), errors_(std::move(errors)) {}
    int set_event_mask(uint32_t) override { return 0; }
    int setup_queues(uint32_t, uint32_t) override { return 0; }
    int get_settings(platform::serial_settings*) override { return 0; }
    int set_settings(const platform::serial_settings&) override { return 0; }
    int get_timeouts(platform::serial_timeouts*) override { return 0; }
    int set_timeouts(const platform::serial_timeouts&) override { return 0; }
    int read(void*, std::size_t, std::size_t* got) override { return *got = 0, 0; }
    int write(const void*, std::size_t count, std::size_t* written) override { return *written = count, 0; }
    int status(platform::serial_status* st) override {
        *st = {};
        st->in_queue = in_->load();
        if (errors_) st->errors = errors_->exchange(0);
        return 0;
    }
    int purge(uint32_t) override { return 0; }
    int set_dtr(bool) override { return 0; }
    int close() override { return 0; }

private:
    std::shared_ptr<std::atomic<uint32_t>> in_;
    std::shared_ptr<std::atomic<uint32_t>> errors_;
};

TEST_F(DevCntrl, SerialBoardWithBytesFromItsPeerEndsTheWait) {
    auto in = std::make_shared<std::atomic<uint32_t>>(0);
    sio_add_virtual_port("DEVCTL_PEER", [in](std::unique_ptr<platform::SerialPort>* port) {
        *port = std::make_unique<PeerPort>(in);
        return 0;
    });
    sio_port port;
    ASSERT_EQ(sio_open("DEVCTL_PEER", &port), 0);
    int board = 0;
    ASSERT_EQ(dev_add_device(DEV_SERIAL_BOARD, static_cast<dev_handle>(port.handle), &board), 0);

    EXPECT_EQ(dev_data_read(DEV_ALL_TYPES, nullptr, false), DEV_NOTHING_FOUND);
    std::thread peer([in] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        in->store(3);
    });
    dev_record out{};
    EXPECT_EQ(dev_data_read(DEV_ALL_TYPES, &out, true), DEV_SERIAL_BOARD);
    peer.join();
    EXPECT_EQ(out.handle, static_cast<dev_handle>(port.handle));
    EXPECT_EQ(out.object, &board);
    EXPECT_EQ(gl_DevInfo.found_index, 0);

    ASSERT_EQ(dev_remove_device(out.handle), 0);
    EXPECT_EQ(sio_close(&port), 0);
    sio_remove_virtual_port("DEVCTL_PEER");
}

// Input that arrived with a line error is not reported on that pass; the query
// cleared the flag, so the next pass reports it.
TEST_F(DevCntrl, SerialInputWithALineErrorWaitsForTheNextQuery) {
    auto in = std::make_shared<std::atomic<uint32_t>>(2);
    auto errors = std::make_shared<std::atomic<uint32_t>>(platform::SERIAL_CE_FRAME);
    sio_add_virtual_port("DEVCTL_ERR", [in, errors](std::unique_ptr<platform::SerialPort>* port) {
        *port = std::make_unique<PeerPort>(in, errors);
        return 0;
    });
    sio_port port;
    ASSERT_EQ(sio_open("DEVCTL_ERR", &port), 0);
    const auto handle = static_cast<dev_handle>(port.handle);
    EXPECT_FALSE(dev_serial_input_waiting(handle, nullptr));
    EXPECT_EQ(errors->load(), 0u);
    EXPECT_TRUE(dev_serial_input_waiting(handle, nullptr));
    EXPECT_EQ(sio_close(&port), 0);
    sio_remove_virtual_port("DEVCTL_ERR");
}

TEST_F(DevCntrl, SerialPortOnAPseudoTerminalWithBytesFromThePeer) {
    if (!platform::Pty::available()) GTEST_SKIP() << "this system has no pseudo-terminals";
    platform::Pty pty;
    ASSERT_EQ(pty.open(), 0);
    sio_port port;
    ASSERT_EQ(sio_open(pty.device().c_str(), &port), 0);
    ASSERT_EQ(dev_add_device(DEV_SERIAL_16, static_cast<dev_handle>(port.handle), nullptr), 0);
    EXPECT_EQ(dev_data_read(DEV_SERIAL_16, nullptr, false), DEV_NOTHING_FOUND);

    std::thread peer([&pty] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        pty.write("ok\r", 3);
    });
    dev_record out{};
    EXPECT_EQ(dev_data_read(DEV_SERIAL_16, &out, true), DEV_SERIAL_16);
    peer.join();
    EXPECT_EQ(out.handle, static_cast<dev_handle>(port.handle));
    // The worker only looked: the bytes are still there for the protocol.
    uint32_t waiting = 0;
    EXPECT_EQ(sio_bytes_waiting(port.handle, &waiting), 0);
    EXPECT_EQ(waiting, 3u);

    ASSERT_EQ(dev_remove_device(out.handle), 0);
    EXPECT_EQ(sio_close(&port), 0);
}

TEST_F(DevCntrl, MotionControllerEventObjectIsTakenAndReset) {
    mc_controller mc{};
    mc_controller_init(&mc, 2, "ev");
    mc.event = platform::event_create(nullptr, true, false);
    ASSERT_EQ(dev_add_device(DEV_MOTION, 120, &mc), 0);
    std::thread backend([&mc] {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        platform::event_set(mc.event);
    });
    dev_record out{};
    EXPECT_EQ(dev_data_read(DEV_MOTION, &out, true), DEV_MOTION);
    backend.join();
    EXPECT_EQ(out.object, &mc);
    EXPECT_FALSE(platform::event_is_set(mc.event));
    EXPECT_EQ(dev_data_read(DEV_MOTION, nullptr, false), DEV_NOTHING_FOUND);
    platform::event_close(mc.event);
}

TEST_F(DevCntrl, MotionLibraryEventFromTheLibrarysThread) {
    mc_controller mc{};
    mc_controller_init(&mc, 3, "lib");
    platform::VirtualClock clock;  // the open's once-a-second polling costs nothing
    platform::set_clock(&clock);
    ASSERT_EQ(mc_open_comm_mpx(&mc), 0);
    platform::set_clock(nullptr);
    ASSERT_EQ(dev_add_device(DEV_MOTION, mc.handle, &mc), 0);
    EXPECT_EQ(dev_data_read(DEV_MOTION, nullptr, false), DEV_NOTHING_FOUND);

    auto raise =
        reinterpret_cast<void (*)(int32_t)>(platform::dynlib_symbol(gl_mwi.module, "MotionSim_RaiseEventAfter"));
    ASSERT_NE(raise, nullptr);
    raise(150);
    dev_record out{};
    EXPECT_EQ(dev_data_read(DEV_MOTION, &out, true), DEV_MOTION);
    EXPECT_EQ(out.handle, mc.handle);

    ASSERT_EQ(dev_remove_device(mc.handle), 0);
    ASSERT_EQ(mc_close_comm_mpx(&mc), 0);
    mc_unbind_motion_library();
}

namespace {
int32_t always_has_event(mwi_handle) { return 1; }
}  // namespace

// The motion library slot may be emptied (the library unbound) while the worker
// polls: the test reads the slot once and calls what it read, never a null slot.
TEST(DevMotionEvent, SlotEmptiedBetweenPollsIsNeverCalledThroughNull) {
    const mwi_fn::HasEvent_MWI saved = gl_mwi.HasEvent_MWI;
    std::atomic_ref<mwi_fn::HasEvent_MWI> slot(gl_mwi.HasEvent_MWI);
    mc_controller mc{};
    mc_controller_init(&mc, 3, "lib");
    std::atomic<bool> stop{false};
    std::atomic<int> toggles{0};
    std::thread binder([&] {
        while (!stop) {
            slot.store(&always_has_event);
            slot.store(nullptr);
            toggles.fetch_add(1, std::memory_order_relaxed);
        }
    });
    while (toggles == 0)
        std::this_thread::yield();
    for (int i = 0; i < 1000000 || toggles < 100000; ++i)
        dev_motion_event(mc.handle, &mc);
    stop = true;
    binder.join();
    gl_mwi.HasEvent_MWI = &always_has_event;
    EXPECT_TRUE(dev_motion_event(mc.handle, &mc));
    gl_mwi.HasEvent_MWI = saved;
}

TEST_F(DevCntrl, CanInstrumentWithAPdoFromTheBusThread) {
    ASSERT_EQ(CanCreateSyncObjects(), 0);
    can_clear_event_queues();
    sysInfo instrument{};
    instrument.sysType = 23;
    instrument.boardType = BOARD_CAN;
    ASSERT_EQ(dev_add_device(DEV_CAN, 130, &instrument), 0);
    EXPECT_EQ(dev_data_read(DEV_CAN, nullptr, false), DEV_NOTHING_FOUND);

    std::thread bus([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        const uint8_t wand_button2[8] = {2};
        can_put_pdo(0x1C9, 8, wand_button2);
    });
    dev_record out{};
    EXPECT_EQ(dev_data_read(DEV_CAN, &out, true), DEV_CAN);
    bus.join();
    EXPECT_EQ(out.object, &instrument);
    can_host_record rec{};
    ASSERT_TRUE(can_take_event(&rec));
    EXPECT_EQ(rec.event.code, CAN_EVENT_WAND_BUTTON2);
    can_clear_event_queues();
    can_events_free_resources();
}

}  // namespace
}  // namespace mf
