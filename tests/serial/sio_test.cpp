#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/error_codes.h"
#include "serial/sio.h"
#include "serial/temp_sensor.h"
#include "serial/wave_monitor.h"
#include "tests/serial/virtual_line.h"
#include "tests/support/capture.h"

namespace mf {
namespace {

using platform::SERIAL_STOP_1;
using platform::SERIAL_STOP_1_5;
using platform::SERIAL_STOP_2;

// ---- Settings strings without a port ----

TEST(SioSettings, ModeWordsAndNoTextSelectDefaults) {
    EXPECT_EQ(sio_classify_settings(nullptr), sio_text_kind::none);
    for (const char* w : {"r", "r+", "w", "w+", "a", "a+"})
        EXPECT_EQ(sio_classify_settings(w), sio_text_kind::mode_word);
    for (const char* s : {"rw", "W+", "", "9600,8,0,1"})
        EXPECT_EQ(sio_classify_settings(s), sio_text_kind::settings);
}

TEST(SioSettings, ValidStringsGiveTheirLine) {
    sio_line line;
    bool quiet = true;
    ASSERT_EQ(sio_parse_settings("19200,7,2,1.5", &line, &quiet), 0);
    EXPECT_EQ(line.baud, 19200u);
    EXPECT_EQ(line.data_bits, 7);
    EXPECT_EQ(line.parity, 2);
    EXPECT_TRUE(line.parity_check);
    EXPECT_EQ(line.stop_bits, SERIAL_STOP_1_5);
    EXPECT_FALSE(quiet);

    ASSERT_EQ(sio_parse_settings("150,5,1,2", &line, &quiet), 0);
    EXPECT_EQ(line.baud, 150u);
    EXPECT_EQ(line.parity, 1);
    EXPECT_TRUE(line.parity_check);
    EXPECT_EQ(line.stop_bits, SERIAL_STOP_2);

    ASSERT_EQ(sio_parse_settings("115200,8,0,1.0", &line, &quiet), 0);
    EXPECT_EQ(line.baud, 115200u);
    EXPECT_FALSE(line.parity_check);
    EXPECT_EQ(line.stop_bits, SERIAL_STOP_1);
}

TEST(SioSettings, InvalidStringsGiveExactCodes) {
    struct Case {
        const char* text;
        int32_t code;
        bool quiet;
    };
    const Case cases[] = {
        {"14400,8,0,1", ERR_INVALID_PARAM, false},     // baud not in the list
        {"9600,8", ERR_INVALID_PARAM, false},          // missing fields
        {"9600", ERR_INVALID_PARAM, false},            // no comma after baud
        {"", ERR_INVALID_PARAM, false},                // empty string is a settings string
        {"9600,4,0,1", ERR_INVALID_PARAM, false},      // data bits below 5
        {"9600,9,0,1", ERR_INVALID_PARAM, false},      // data bits above 8
        {"9600,8,3,1", ERR_INVALID_PARAM, false},      // parity above 2
        {"9600,8,0", ERR_INVALID_PARAM, false},        // no comma after parity
        {"9600,8,x,1", ERR_PARAM_OUT_OF_RANGE, true},  // parity not a digit: no message
        {"9600,8,,1", ERR_PARAM_OUT_OF_RANGE, true},
        {"9600,8,-1,1", ERR_PARAM_OUT_OF_RANGE, true},
        {"9600,8,0,3", ERR_PARAM_OUT_OF_RANGE, false},
        {"9600,8,0,1.25", ERR_PARAM_OUT_OF_RANGE, false},
        {"9600,8,0,x", ERR_PARAM_OUT_OF_RANGE, false},
    };
    for (const Case& c : cases) {
        sio_line line;
        bool quiet = !c.quiet;
        EXPECT_EQ(sio_parse_settings(c.text, &line, &quiet), c.code) << c.text;
        EXPECT_EQ(quiet, c.quiet) << c.text;
    }
}

// ---- sio_init on a port ----

void expect_fixed_discipline(const sio_settings& s, bool soft) {
    EXPECT_EQ(s.out_xon_xoff, soft);
    EXPECT_EQ(s.in_xon_xoff, soft);
    EXPECT_EQ(s.xon_char, 17);
    EXPECT_EQ(s.xoff_char, 19);
    EXPECT_EQ(s.xon_limit, 100);
    EXPECT_EQ(s.xoff_limit, 3996);
    EXPECT_EQ(s.dtr_control, platform::SERIAL_DTR_ENABLE);
    EXPECT_EQ(s.rts_control, platform::SERIAL_RTS_HANDSHAKE);
    EXPECT_EQ(s.cts_out_flow, !soft);
    EXPECT_EQ(s.abort_on_error, !soft);
    EXPECT_TRUE(s.binary);
}

TEST(SioInit, ModeWordIsIgnoredAndDefaultsApply) {
    test::VirtualLine v;
    ASSERT_EQ(sio_open(v.name(), &v.port), 0);
    test::SinkCapture cap;
    ASSERT_EQ(sio_init_soft(v.handle(), "w+"), 0);
    EXPECT_EQ(cap.text(), "Com Settings Parameter: w+ is ignored.\n");
    sio_settings s = v.line->settings();
    EXPECT_EQ(s.baud, 9600u);
    EXPECT_EQ(s.byte_size, 8);
    EXPECT_EQ(s.parity, 0);
    EXPECT_FALSE(s.parity_check);
    EXPECT_EQ(s.stop_bits, SERIAL_STOP_1);
    expect_fixed_discipline(s, true);
    sio_timeouts t = v.line->timeouts();
    EXPECT_EQ(t.read_interval, 100u);
    EXPECT_EQ(t.read_total_multiplier, 0u);
    EXPECT_EQ(t.read_total_constant, 2000u);
    EXPECT_EQ(t.write_total_multiplier, 0u);
    EXPECT_EQ(t.write_total_constant, 1000u);
    EXPECT_TRUE(v.line->dtr());
}

TEST(SioInit, HardwareHandshakeAndSettingsString) {
    test::VirtualLine v;
    ASSERT_EQ(sio_open(v.name(), &v.port), 0);
    test::SinkCapture cap;
    ASSERT_EQ(sio_init(v.handle(), "19200,7,2,1.5", false), 0);
    EXPECT_EQ(cap.text(), "");
    sio_settings s = v.line->settings();
    EXPECT_EQ(s.baud, 19200u);
    EXPECT_EQ(s.byte_size, 7);
    EXPECT_EQ(s.parity, 2);
    EXPECT_TRUE(s.parity_check);
    EXPECT_EQ(s.stop_bits, SERIAL_STOP_1_5);
    expect_fixed_discipline(s, false);
}

TEST(SioInit, InvalidStringsPrintOrStayQuiet) {
    test::VirtualLine v;
    ASSERT_EQ(sio_open(v.name(), &v.port), 0);
    ASSERT_EQ(sio_init_soft(v.handle(), "38400,8,0,1"), 0);
    test::SinkCapture cap;
    EXPECT_EQ(sio_init_soft(v.handle(), "14400,8,0,1"), ERR_INVALID_PARAM);
    EXPECT_EQ(cap.text(), "Com Settings Parameter: 14400,8,0,1 is Invalid.\n");
    cap.clear();
    EXPECT_EQ(sio_init_soft(v.handle(), "9600,8"), ERR_INVALID_PARAM);
    EXPECT_EQ(cap.text(), "Com Settings Parameter: 9600,8 is Invalid.\n");
    cap.clear();
    EXPECT_EQ(sio_init_soft(v.handle(), "9600,8,x,1"), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(cap.text(), "");
    EXPECT_EQ(sio_init_soft(v.handle(), "9600,8,0,3"), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(cap.text(), "Com Settings Parameter: 9600,8,0,3 is Invalid.\n");
    // A refused string leaves the line as it was.
    EXPECT_EQ(v.line->settings().baud, 38400u);
}

TEST(SioInit, PortFailuresGiveTheirCodes) {
    test::VirtualLine v;
    ASSERT_EQ(sio_open(v.name(), &v.port), 0);
    test::SinkCapture cap;
    v.line->faults.get_settings = 31;
    EXPECT_EQ(sio_init_soft(v.handle(), "9600,8,0,1"), ERR_CANT_GET_SERIAL);
    EXPECT_EQ(cap.text(), "Com Settings Parameter: 9600,8,0,1 is Invalid.\n");
    EXPECT_EQ(sio_last_os_error(), 31);
    v.line->faults.get_settings = 0;

    cap.clear();
    v.line->faults.set_settings = 87;
    const std::size_t before = v.line->read_constant_history().size();
    EXPECT_EQ(sio_init_soft(v.handle(), nullptr), ERR_CANT_SET_SERIAL);
    EXPECT_EQ(cap.text(), "Com Settings Parameter: (null) is Invalid.\n");
    // The time-outs go out before the line settings fail.
    EXPECT_EQ(v.line->read_constant_history().size(), before + 1);
    v.line->faults.set_settings = 0;

    cap.clear();
    v.line->faults.set_timeouts = 5;
    EXPECT_EQ(sio_init_soft(v.handle(), nullptr), 0);
    EXPECT_EQ(cap.text(), "");
}

// ---- Time-outs, setters, state ----

TEST(SioTimeout, WholeSecondsOfTheReadTotalConstant) {
    test::VirtualLine v;
    ASSERT_EQ(v.open_soft(), 0);
    uint32_t s = 99;
    ASSERT_EQ(sio_get_timeout(v.handle(), &s), 0);
    EXPECT_EQ(s, 2u);
    ASSERT_EQ(sio_set_timeout(v.handle(), 10), 0);
    ASSERT_EQ(sio_get_timeout(v.handle(), &s), 0);
    EXPECT_EQ(s, 10u);
    EXPECT_EQ(v.line->timeouts().read_total_constant, 10000u);
    EXPECT_EQ(v.line->timeouts().read_interval, 100u);

    sio_timeouts t = v.line->timeouts();
    t.read_total_constant = 2999;
    v.line->preset_timeouts(t);
    ASSERT_EQ(sio_get_timeout(v.handle(), &s), 0);
    EXPECT_EQ(s, 2u);
    ASSERT_EQ(sio_set_timeout(v.handle(), 0), 0);
    EXPECT_EQ(v.line->timeouts().read_total_constant, 0u);

    // Seconds beyond what the millisecond field holds are capped, not wrapped.
    ASSERT_EQ(sio_set_timeout(v.handle(), 5000000), 0);
    EXPECT_EQ(v.line->timeouts().read_total_constant, 4294967000u);

    v.line->faults.get_timeouts = 1;
    s = 7;
    EXPECT_EQ(sio_get_timeout(v.handle(), &s), ERR_CANT_GET_SERIAL);
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(sio_set_timeout(v.handle(), 3), ERR_CANT_SET_SERIAL);
    v.line->faults.get_timeouts = 0;
    v.line->faults.set_timeouts = 1;
    EXPECT_EQ(sio_set_timeout(v.handle(), 3), ERR_CANT_SET_SERIAL);
}

TEST(SioSetters, ChangeOnlyTheirFields) {
    test::VirtualLine v;
    ASSERT_EQ(v.open_soft(), 0);
    ASSERT_EQ(sio_set_baud(v.handle(), 12345), 0);  // not checked by the layer
    EXPECT_EQ(v.line->settings().baud, 12345u);
    ASSERT_EQ(sio_set_parity(v.handle(), 1), 0);
    EXPECT_EQ(v.line->settings().parity, 1);
    EXPECT_TRUE(v.line->settings().parity_check);
    ASSERT_EQ(sio_set_parity(v.handle(), 0), 0);
    EXPECT_FALSE(v.line->settings().parity_check);
    EXPECT_EQ(sio_set_parity(v.handle(), 9), ERR_CANT_SET_SERIAL);  // the device refuses it
    ASSERT_EQ(sio_set_data_bits(v.handle(), 7), 0);
    EXPECT_EQ(v.line->settings().byte_size, 7);
    ASSERT_EQ(sio_xon_xoff_on(v.handle()), 0);
    EXPECT_TRUE(v.line->settings().out_xon_xoff);
    EXPECT_TRUE(v.line->settings().in_xon_xoff);
    ASSERT_EQ(sio_xon_xoff_off(v.handle()), 0);
    sio_settings s = v.line->settings();
    EXPECT_FALSE(s.out_xon_xoff);
    EXPECT_FALSE(s.in_xon_xoff);
    EXPECT_EQ(s.xon_limit, 100);
    EXPECT_EQ(s.xoff_limit, 3996);
    EXPECT_EQ(s.baud, 12345u);

    v.line->faults.get_settings = 1;
    EXPECT_EQ(sio_set_baud(v.handle(), 9600), ERR_CANT_GET_SERIAL);
    v.line->faults.get_settings = 0;
    v.line->faults.set_settings = 1;
    EXPECT_EQ(sio_xon_xoff_on(v.handle()), ERR_CANT_SET_SERIAL);
}

TEST(SioState, LengthFieldIsSetBeforeEveryRead) {
    test::VirtualLine v;
    ASSERT_EQ(v.open_soft(), 0);
    sio_settings s;
    s.length = 0;
    s.baud = 4800;
    ASSERT_EQ(sio_set_state(v.handle(), &s), 0);
    sio_settings back;
    back.length = 0;
    ASSERT_EQ(sio_get_state(v.handle(), &back), 0);
    EXPECT_EQ(back.baud, 4800u);
    v.line->faults.get_settings = 1;
    back.length = 0;
    EXPECT_EQ(sio_get_state(v.handle(), &back), ERR_CANT_GET_SERIAL);
    EXPECT_EQ(back.length, 28u);
}

// ---- Open, close and the invalid handle ----

TEST(SioOpen, SetsMaskAndQueuesAndIsExclusive) {
    test::VirtualLine v;
    ASSERT_EQ(sio_open(v.name(), &v.port), 0);
    EXPECT_NE(v.handle(), SIO_INVALID_HANDLE);
    EXPECT_EQ(v.line->event_mask(), platform::SERIAL_EV_RXCHAR);
    EXPECT_EQ(v.line->queue_size(), 4096u);
    sio_port second;
    EXPECT_EQ(sio_open(v.name(), &second), ERR_CANT_OPEN_SERIAL);
    EXPECT_EQ(second.handle, SIO_INVALID_HANDLE);
}

TEST(SioOpen, FailuresLeaveTheRecordAsDocumented) {
    test::VirtualLine v;
    sio_port p;
    p.handle = 1234;
    EXPECT_EQ(sio_open("/nonexistent/serial-device", &p), ERR_CANT_OPEN_SERIAL);
    EXPECT_EQ(p.handle, SIO_INVALID_HANDLE);
    EXPECT_NE(sio_last_os_error(), 0);
    EXPECT_EQ(sio_open(nullptr, &p), ERR_CANT_OPEN_SERIAL);

    v.line->faults.setup_queues = 87;
    EXPECT_EQ(sio_open(v.name(), &v.port), ERR_CANT_SET_SERIAL);
    // Still open: the caller closes it.
    EXPECT_NE(v.handle(), SIO_INVALID_HANDLE);
    EXPECT_TRUE(v.line->is_open());
    EXPECT_EQ(sio_close(&v.port), 0);
    EXPECT_FALSE(v.line->is_open());
}

// Opening into no record gives each module's own failure code and leaves no port
// open behind it.
TEST(SioOpen, NoRecordGivesTheModulesCode) {
    struct Case {
        const char* what;
        int32_t (*open)(const char* name);
        int32_t code;
    };
    const Case cases[] = {
        {"sio_open", [](const char* name) { return sio_open(name, nullptr); }, ERR_CANT_OPEN_SERIAL},
        {"temp_comm_open", [](const char* name) { return temp_comm_open(nullptr, name); }, ERR_TEMP_SENSOR_COMM},
        {"wm_comm_open_fd", [](const char* name) { return wm_comm_open_fd(nullptr, name); }, ERR_WM_COMM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::VirtualLine v;
        test::SinkCapture cap;
        EXPECT_EQ(c.open(v.name()), c.code);
        EXPECT_FALSE(v.line->is_open());
        ASSERT_EQ(sio_open(v.name(), &v.port), 0);  // nothing holds the line
    }
}

TEST(SioHandle, InvalidHandleRules) {
    const sio_handle bad = SIO_INVALID_HANDLE;
    uint32_t n = 5;
    sio_settings s;
    EXPECT_EQ(sio_init(bad, nullptr, true), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(sio_init_soft(bad, "9600,8,0,1"), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(sio_set_baud(bad, 9600), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(sio_set_parity(bad, 0), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(sio_set_data_bits(bad, 8), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(sio_xon_xoff_on(bad), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(sio_xon_xoff_off(bad), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(sio_get_timeout(bad, &n), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(sio_set_timeout(bad, 2), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(sio_get_state(bad, &s), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(sio_set_state(bad, &s), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(sio_clear_buffer(bad), ERR_SERIAL_NOT_OPEN);
    // The data operations keep their 0/1 convention.
    uint8_t b[2] = {};
    n = 5;
    EXPECT_EQ(sio_send_data(bad, b, 2, &n), 1);
    EXPECT_EQ(n, 0u);
    n = 5;
    EXPECT_EQ(sio_read_data(bad, b, 2, &n), 1);
    EXPECT_EQ(n, 0u);
    n = 5;
    EXPECT_EQ(sio_bytes_waiting(bad, &n), 1);
    EXPECT_EQ(n, 0u);
    sio_port closed;
    EXPECT_EQ(sio_close(&closed), ERR_SERIAL_NOT_OPEN);
    EXPECT_EQ(closed.handle, SIO_INVALID_HANDLE);
}

TEST(SioClose, DropsDtrPurgesAndInvalidatesTheRecord) {
    test::VirtualLine v;
    ASSERT_EQ(v.open_soft(), 0);
    ASSERT_TRUE(v.line->dtr());
    const sio_handle h = v.handle();
    v.line->faults.close = 5;
    EXPECT_EQ(sio_close(&v.port), ERR_CANT_CLOSE_SERIAL);
    EXPECT_EQ(v.handle(), h);
    v.line->faults.close = 0;
    const int purges = v.line->purges();
    EXPECT_EQ(sio_close(&v.port), 0);
    EXPECT_EQ(v.handle(), SIO_INVALID_HANDLE);
    EXPECT_FALSE(v.line->dtr());
    EXPECT_EQ(v.line->event_mask(), 0u);
    EXPECT_GT(v.line->purges(), purges);
    // The closed handle value is stale from now on.
    uint32_t n = 0;
    EXPECT_EQ(sio_bytes_waiting(h, &n), 1);
    EXPECT_EQ(sio_set_baud(h, 9600), ERR_CANT_GET_SERIAL);
}

// ---- Data operations ----

TEST(SioRead, ExactCountIsSuccessShortReadIsFailure) {
    test::VirtualLine v;
    ASSERT_EQ(v.open_soft(), 0);
    v.line->feed(std::string("abcdef"));
    uint32_t n = 0;
    ASSERT_EQ(sio_bytes_waiting(v.handle(), &n), 0);
    EXPECT_EQ(n, 6u);
    char buf[8] = {};
    EXPECT_EQ(sio_read_data(v.handle(), buf, 4, &n), 0);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_EQ(v.clock.slept_ms(), 0);
    // Two bytes then silence: the read ends 100 ms after the last byte.
    EXPECT_EQ(sio_read_data(v.handle(), buf, 5, &n), 1);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(std::string(buf, 2), "ef");
    EXPECT_EQ(v.clock.slept_ms(), 100);
    // Nothing at all: the whole-seconds total time-out.
    EXPECT_EQ(sio_read_data(v.handle(), buf, 1, &n), 1);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(v.clock.slept_ms(), 100 + 2000);
}

TEST(SioRead, LateBytesWithinTheTimeOutArrive) {
    test::VirtualLine v;
    ASSERT_EQ(v.open_soft(), 0);
    ASSERT_EQ(sio_set_timeout(v.handle(), 10), 0);
    v.line->feed(std::string("x"), 9500);
    v.line->feed(std::string("y"), 9550);
    v.line->feed(std::string("z"), 9700);  // 150 ms after "y": too late
    char buf[3] = {};
    uint32_t n = 0;
    EXPECT_EQ(sio_read_data(v.handle(), buf, 3, &n), 1);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(v.clock.slept_ms(), 9650);
}

TEST(SioRead, StatusFailureFailsTheRead) {
    test::VirtualLine v;
    ASSERT_EQ(v.open_soft(), 0);
    v.line->feed(std::string("ab"));
    v.line->faults.status = 1;
    char buf[2];
    uint32_t n = 0;
    EXPECT_EQ(sio_read_data(v.handle(), buf, 2, &n), 1);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(sio_bytes_waiting(v.handle(), &n), 1);
    EXPECT_EQ(n, 0u);
}

TEST(SioSend, AllBytesAcceptedIsSuccess) {
    test::VirtualLine v;
    ASSERT_EQ(v.open_soft(), 0);
    uint32_t n = 0;
    EXPECT_EQ(sio_send_data(v.handle(), "hello", 5, &n), 0);
    EXPECT_EQ(n, 5u);
    std::vector<uint8_t> sent = v.line->sent();
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "hello");

    v.line->faults.write_limit = 3;
    EXPECT_EQ(sio_send_data(v.handle(), "hello", 5, &n), 1);
    EXPECT_EQ(n, 3u);
    v.line->faults.write_limit = static_cast<std::size_t>(-1);
    v.line->faults.write = 5;
    EXPECT_EQ(sio_send_data(v.handle(), "hello", 5, &n), 1);
}

TEST(SioSend, UndrainedOutputEndsAfterTheWriteTimeOut) {
    test::VirtualLine v;
    ASSERT_EQ(v.open_soft(), 0);
    v.line->faults.stuck_out_queue = 5;
    uint32_t n = 0;
    EXPECT_EQ(sio_send_data(v.handle(), "hello", 5, &n), 1);
    EXPECT_EQ(n, 5u);
    EXPECT_GE(v.clock.slept_ms(), 1000);
    EXPECT_LT(v.clock.slept_ms(), 1010);
}

TEST(SioClear, SwallowsStrayInputAndRestoresTheTimeOut) {
    test::VirtualLine v;
    ASSERT_EQ(v.open_soft(), 0);
    v.line->feed(std::string("stale"));
    v.line->feed(std::string("1"), 50);
    v.line->feed(std::string("2"), 120);
    v.line->feed(std::string("late"), 400);
    EXPECT_EQ(sio_clear_buffer(v.handle()), 0);
    // The bytes 50 and 70 ms apart were swallowed; the late ones remain.
    uint32_t n = 0;
    v.clock.advance(1000);
    ASSERT_EQ(sio_bytes_waiting(v.handle(), &n), 0);
    EXPECT_EQ(n, 4u);
    std::vector<uint32_t> h = v.line->read_constant_history();
    ASSERT_GE(h.size(), 2u);
    EXPECT_EQ(h[h.size() - 2], 100u);
    EXPECT_EQ(h.back(), 2000u);
}

TEST(SioClear, EndlessChatterAndPurgeFailureFail) {
    // A fast talker and a slow one (a byte every 50 ms, under the 100 ms quiet
    // time): both give up within about two seconds.
    for (int spacing_ms : {10, 50}) {
        SCOPED_TRACE(spacing_ms);
        test::VirtualLine v;
        ASSERT_EQ(v.open_soft(), 0);
        for (int i = 1; i <= 20000; ++i)
            v.line->feed(std::string("c"), static_cast<int64_t>(i) * spacing_ms);
        const int64_t start = platform::monotonic_ms();
        EXPECT_EQ(sio_clear_buffer(v.handle()), 1);
        EXPECT_LE(platform::monotonic_ms() - start, 2100);
        EXPECT_EQ(v.line->timeouts().read_total_constant, 2000u);
        v.line->faults.purge = 1;
        EXPECT_EQ(sio_clear_buffer(v.handle()), 1);
    }
}

}  // namespace
}  // namespace mf
