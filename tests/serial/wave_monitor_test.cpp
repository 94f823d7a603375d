#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "common/error_codes.h"
#include "serial/wave_monitor.h"
#include "sim/serial/wave_monitor_peer.h"
#include "tests/serial/virtual_line.h"
#include "tests/support/alloc_fail.h"
#include "tests/support/capture.h"

namespace mf {
namespace {

using Fault = sim::WaveMonitorPeer::Fault;

const char* const stamp = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ";

// The single failure line wm_comm_read prints.
void expect_read_failure(const std::string& text, const std::string& error, const std::string& detail) {
    std::string expected =
        std::string("^") + stamp + "wm_comm_read: " + error + (detail.empty() ? "" : ": " + detail) + "\n$";
    EXPECT_TRUE(std::regex_match(text, std::regex(expected))) << "got: " << text << "\nwanted: " << expected;
}

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> v;
    for (int b : list)
        v.push_back(static_cast<uint8_t>(b));
    return v;
}

class WmRead : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(v.open_soft(), 0); }
    void TearDown() override { wm_buffer_release(&buf); }
    int32_t read(int32_t len, int32_t elem, int32_t kind, int32_t timeout = 0) {
        return wm_comm_read(&v.port, &buf, len, elem, kind, timeout);
    }
    test::VirtualLine v;
    wm_buffer buf;
};

TEST_F(WmRead, AckKind) {
    v.line->feed(bytes({0x06}));
    ASSERT_EQ(read(0, 0, WM_RESP_ACK), 0);
    ASSERT_EQ(buf.length, 1u);
    EXPECT_EQ(buf.data[0], 0x06);

    test::SinkCapture cap;
    v.line->feed(bytes({0x15}));
    EXPECT_EQ(read(0, 0, WM_RESP_ACK), ERR_WM_NAK);
    expect_read_failure(cap.text(), "ERR_WM_NAK", "WM_RESP_ACK: received NAK");
    EXPECT_EQ(buf.data, nullptr);
    EXPECT_EQ(buf.capacity, 0u);
    EXPECT_EQ(buf.length, 0u);

    cap.clear();
    v.line->feed(bytes({0x41}));
    EXPECT_EQ(read(0, 0, WM_RESP_ACK), ERR_WM_READ);
    expect_read_failure(cap.text(), "ERR_WM_READ", "WM_RESP_ACK: invalid response 0x41, expected ACK or NAK");
}

TEST_F(WmRead, ReadKindTakesExactlyRespLenBytes) {
    v.line->feed(std::string("abcX"));
    ASSERT_EQ(read(3, 0, WM_RESP_READ), 0);
    ASSERT_EQ(buf.length, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data), 3), "abc");
    EXPECT_EQ(v.line->pending(), 1u);  // no acknowledge byte is read

    test::SinkCapture cap;
    EXPECT_EQ(read(0, 0, WM_RESP_READ), ERR_WM_READ);
    expect_read_failure(cap.text(), "ERR_WM_READ", "WM_RESP_READ: invalid respLen = 0");
    EXPECT_EQ(v.line->pending(), 0u);

    cap.clear();
    v.line->feed(std::string("ab"));
    EXPECT_EQ(read(4, 0, WM_RESP_READ), ERR_WM_READ);
    expect_read_failure(cap.text(), "ERR_WM_READ", "WM_RESP_READ: sio_read_data failed reading response byte 3 of 4");
}

TEST_F(WmRead, ReadAckKindKeepsTheAckInTheBuffer) {
    v.line->feed(bytes({1, 2, 3, 4, 0x06, 0x77}));
    ASSERT_EQ(read(4, 0, WM_RESP_READ_ACK), 0);
    ASSERT_EQ(buf.length, 5u);
    EXPECT_EQ(std::vector<uint8_t>(buf.data, buf.data + 5), bytes({1, 2, 3, 4, 0x06}));
    EXPECT_EQ(v.line->pending(), 1u);

    test::SinkCapture cap;
    v.line->feed(bytes({9, 9, 9, 0x15}));
    EXPECT_EQ(read(4, 0, WM_RESP_READ_ACK), ERR_WM_NAK);  // 0x77 is the first byte here
    expect_read_failure(cap.text(), "ERR_WM_NAK", "WM_RESP_READ_ACK: received NAK");

    cap.clear();
    v.line->feed(bytes({1, 2, 3, 4, 0x3F}));
    EXPECT_EQ(read(4, 0, WM_RESP_READ_ACK), ERR_WM_READ);
    expect_read_failure(cap.text(), "ERR_WM_READ", "WM_RESP_READ_ACK: invalid response 0x3f, expected ACK or NAK");

    cap.clear();
    v.line->feed(bytes({1, 2, 3}));
    EXPECT_EQ(read(4, 0, WM_RESP_READ_ACK), ERR_WM_READ);
    expect_read_failure(cap.text(), "ERR_WM_READ",
                        "WM_RESP_READ_ACK: sio_read_data failed reading response char 4 of 5");

    cap.clear();
    v.line->feed(bytes({1}));
    EXPECT_EQ(read(-3, 0, WM_RESP_READ_ACK), ERR_WM_READ);
    expect_read_failure(cap.text(), "ERR_WM_READ", "WM_RESP_READ_ACK: invalid respLen = -3");
}

TEST_F(WmRead, SizeReadAckReadsCountPayloadAndAck) {
    v.line->feed(bytes({0x02, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x06, 0x55}));
    ASSERT_EQ(read(0, 4, WM_RESP_SIZE_READ_ACK), 0);
    ASSERT_EQ(buf.length, 13u);
    uint32_t count = 0;
    std::memcpy(&count, buf.data, 4);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(buf.data[4], 1);
    EXPECT_EQ(buf.data[8], 2);
    EXPECT_EQ(buf.data[12], 0x06);
    EXPECT_EQ(v.line->pending(), 1u);
}

TEST_F(WmRead, SizeReadAckFailures) {
    test::SinkCapture cap;
    v.line->feed(bytes({0x02, 0}));
    EXPECT_EQ(read(0, 4, WM_RESP_SIZE_READ_ACK), ERR_WM_READ);
    expect_read_failure(cap.text(), "ERR_WM_READ", "WM_RESP_SIZE_READ_ACK: sio_read_data failed reading byte 3 of 4");

    cap.clear();
    v.line->feed(bytes({0x02, 0, 0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(read(0, 4, WM_RESP_SIZE_READ_ACK), ERR_WM_READ);
    expect_read_failure(cap.text(), "ERR_WM_READ", "WM_RESP_SIZE_READ_ACK: sio_read_data failed reading byte 9 of 13");

    cap.clear();
    v.line->feed(bytes({0x01, 0, 0, 0, 7, 0x15}));
    EXPECT_EQ(read(0, 1, WM_RESP_SIZE_READ_ACK), ERR_WM_NAK);
    expect_read_failure(cap.text(), "ERR_WM_NAK", "WM_RESP_SIZE_READ_ACK: received NAK");
}

TEST_F(WmRead, AnnouncedSizeIsCheckedBeforeAllocation) {
    test::SinkCapture cap;
    {
        test::AllocFailure counter(0);
        v.line->feed(bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x06}));
        EXPECT_EQ(read(0, 4, WM_RESP_SIZE_READ_ACK), ERR_WM_READ);
        EXPECT_EQ(counter.count(), 1);  // the one-byte buffer only
        EXPECT_EQ(counter.outstanding(), 0);
    }
    expect_read_failure(cap.text(), "ERR_WM_READ",
                        "WM_RESP_SIZE_READ_ACK: invalid size, count = 4294967295, total = 17179869185");
    EXPECT_EQ(v.line->pending(), 1u);  // the rest of the reply is not read
    ASSERT_EQ(sio_clear_buffer(v.handle()), 0);

    const uint32_t previous = wm_set_response_limit(100);
    v.line->feed(bytes({24, 0, 0, 0}));
    EXPECT_EQ(read(0, 4, WM_RESP_SIZE_READ_ACK), ERR_WM_READ);  // 101 bytes
    v.line->feed(bytes({23, 0, 0, 0}));
    std::vector<uint8_t> payload(92, 0x11);
    payload.push_back(0x06);
    v.line->feed(payload);
    EXPECT_EQ(read(0, 4, WM_RESP_SIZE_READ_ACK), 0);  // 97 bytes
    EXPECT_EQ(buf.length, 97u);
    wm_set_response_limit(previous);
}

TEST_F(WmRead, UnknownKindSucceedsAfterTheFirstByte) {
    v.line->feed(std::string("zq"));
    EXPECT_EQ(read(0, 0, 9), 0);
    EXPECT_EQ(v.line->pending(), 1u);
}

// A reused buffer keeps its block: a success must hold what was received and
// zeros, never bytes of an earlier response.
TEST_F(WmRead, SuccessHoldsOnlyReceivedBytes) {
    struct Case {
        int32_t kind;
        int32_t respLen;
        std::vector<uint8_t> wire;
        std::vector<uint8_t> held;
    };
    const Case cases[] = {
        {WM_RESP_READ, 3, bytes({'a', 'b', 'c'}), bytes({'a', 'b', 'c', 0})},
        {9, 0, bytes({'z'}), bytes({'z'})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        ASSERT_EQ(wm_buffer_resize(&buf, 16, false), 0);
        std::memset(buf.data, 0xAA, 16);
        v.line->feed(c.wire);
        ASSERT_EQ(read(c.respLen, 0, c.kind), 0);
        EXPECT_EQ(std::vector<uint8_t>(buf.data, buf.data + buf.length), c.held);
    }
}

TEST_F(WmRead, MissingArgumentsAreInvalid) {
    test::SinkCapture cap;
    EXPECT_EQ(wm_comm_read(nullptr, &buf, 1, 0, WM_RESP_ACK, 0), ERR_INVALID_PARAM);
    expect_read_failure(cap.text(), "ERR_INVALID_PARAM", "");
    EXPECT_EQ(wm_comm_read(&v.port, nullptr, 1, 0, WM_RESP_ACK, 0), ERR_INVALID_PARAM);
}

TEST_F(WmRead, SilentMonitorTimesOutAndRestoresTheTimeOut) {
    test::SinkCapture cap;
    EXPECT_EQ(read(4, 0, WM_RESP_READ_ACK), ERR_WM_TIMEOUT);
    expect_read_failure(cap.text(), "ERR_WM_TIMEOUT", "");
    EXPECT_EQ(v.clock.slept_ms(), 10000);
    uint32_t s = 0;
    ASSERT_EQ(sio_get_timeout(v.handle(), &s), 0);
    EXPECT_EQ(s, 2u);
    std::vector<uint32_t> h = v.line->read_constant_history();
    ASSERT_GE(h.size(), 2u);
    EXPECT_EQ(h[h.size() - 2], 10000u);
    EXPECT_EQ(h.back(), 2000u);

    // An explicit first-byte time-out, and one equal to the current that is not rewritten.
    EXPECT_EQ(read(4, 0, WM_RESP_READ_ACK, 3), ERR_WM_TIMEOUT);
    EXPECT_EQ(v.clock.slept_ms(), 13000);
    const std::size_t sets = v.line->read_constant_history().size();
    EXPECT_EQ(read(4, 0, WM_RESP_READ_ACK, 2), ERR_WM_TIMEOUT);
    EXPECT_EQ(v.line->read_constant_history().size(), sets + 1);  // only the restore
}

TEST_F(WmRead, LaterBytesUseTheRememberedTimeOut) {
    v.line->feed(bytes({1}), 9000);
    v.line->feed(bytes({2, 3, 4, 6}), 9000 + 1900);
    EXPECT_EQ(read(4, 0, WM_RESP_READ_ACK), 0);
    v.line->feed(bytes({1}));
    v.line->feed(bytes({2, 3, 4, 6}), 2100);
    test::SinkCapture cap;
    EXPECT_EQ(read(4, 0, WM_RESP_READ_ACK), ERR_WM_READ);
}

TEST_F(WmRead, TimeOutErrorsAreReturned) {
    v.line->faults.get_timeouts = 1;
    test::SinkCapture cap;
    EXPECT_EQ(read(1, 0, WM_RESP_ACK), ERR_CANT_GET_SERIAL);
    v.line->faults.get_timeouts = 0;
    v.line->faults.set_timeouts = 1;
    EXPECT_EQ(read(1, 0, WM_RESP_ACK), ERR_CANT_SET_SERIAL);
}

TEST_F(WmRead, AllocationFailureIsNoMem) {
    test::SinkCapture cap;
    v.line->feed(bytes({1, 2, 3, 4, 6}));
    {
        test::AllocFailure fail(2);
        EXPECT_EQ(read(4, 0, WM_RESP_READ_ACK), ERR_NO_MEM);
        EXPECT_EQ(fail.outstanding(), 0);
    }
    expect_read_failure(cap.text(), "ERR_NO_MEM", "");
}

TEST(WmBuffer, ResizeKeepsOrReplacesTheBlock) {
    wm_buffer b;
    ASSERT_EQ(wm_buffer_resize(&b, 10, true), 0);
    uint8_t* first = b.data;
    EXPECT_EQ(b.capacity, 10u);
    ASSERT_EQ(wm_buffer_resize(&b, 4, true), 0);
    EXPECT_EQ(b.data, first);
    EXPECT_EQ(b.capacity, 10u);
    EXPECT_EQ(b.length, 4u);
    ASSERT_EQ(wm_buffer_resize(&b, 3, false), 0);
    EXPECT_EQ(b.capacity, 3u);
    EXPECT_EQ(b.length, 3u);
    ASSERT_EQ(wm_buffer_resize(&b, 0, true), 0);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.capacity, 0u);
    {
        test::AllocFailure fail(1);
        EXPECT_EQ(wm_buffer_resize(&b, 8, true), ERR_NO_MEM);
        EXPECT_EQ(b.capacity, 0u);
        EXPECT_EQ(b.length, 0u);
    }
    wm_buffer_release(&b);
}

// ---- Against the simulated monitor ----

class WmPeer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(wm_comm_open_fd(&v.port, v.name()), 0); }
    sim::WaveMonitorPeer peer;
    test::VirtualLine v{&peer};
};

TEST_F(WmPeer, OpenSetsTheMonitorLine) {
    sio_settings s = v.line->settings();
    EXPECT_EQ(s.baud, 115200u);
    EXPECT_EQ(s.byte_size, 8);
    EXPECT_EQ(s.parity, 0);
    EXPECT_FALSE(s.parity_check);
    EXPECT_EQ(s.stop_bits, platform::SERIAL_STOP_1);
    EXPECT_FALSE(s.out_xon_xoff);
    EXPECT_FALSE(s.in_xon_xoff);
    EXPECT_EQ(s.rts_control, platform::SERIAL_RTS_HANDSHAKE);
    EXPECT_TRUE(v.line->dtr());
    EXPECT_EQ(wm_comm_close(&v.port), 0);
    EXPECT_EQ(wm_comm_close(nullptr), 0);
}

TEST(WmOpen, FailuresCloseThePortAndReportWmComm) {
    sim::WaveMonitorPeer peer;
    test::VirtualLine v(&peer);
    test::SinkCapture cap;
    v.line->faults.open = 2;
    EXPECT_EQ(wm_comm_open_fd(&v.port, v.name()), ERR_WM_COMM);
    EXPECT_EQ(cap.text(), "wm_comm_open_fd: error initializing device VCOM1: ERR_CANT_OPEN_SERIAL\n");
    v.line->faults.open = 0;
    cap.clear();
    v.line->faults.set_settings = 87;
    EXPECT_EQ(wm_comm_open_fd(&v.port, v.name()), ERR_WM_COMM);
    EXPECT_EQ(cap.text(),
              "Com Settings Parameter: (null) is Invalid.\n"
              "wm_comm_open_fd: error initializing device VCOM1: ERR_CANT_SET_SERIAL\n");
    EXPECT_FALSE(v.line->is_open());
    EXPECT_EQ(v.port.handle, SIO_INVALID_HANDLE);
}

TEST_F(WmPeer, WriteFramesTheCommand) {
    v.line->clear_sent();
    ASSERT_EQ(wm_comm_write(&v.port, "SS=1.5"), 0);
    std::vector<uint8_t> sent = v.line->sent();
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "SS=1.5\r");
    EXPECT_EQ(wm_comm_write(nullptr, "LO?"), 0);

    test::SinkCapture cap;
    v.line->faults.write = 5;
    EXPECT_EQ(wm_comm_write(&v.port, "LO?"), ERR_WM_COMM);
    EXPECT_EQ(cap.text(), "wm_comm_write: sio_send_data failed, sendPacket = \"LO?\", nbytes = 3\n");
}

TEST_F(WmPeer, WriteReadReportsTheCommand) {
    peer.inject(Fault::nak);
    test::SinkCapture cap;
    wm_buffer buf;
    EXPECT_EQ(wm_comm_write_rd(&v.port, "LO=1", &buf, 0, 0, WM_RESP_ACK, 0), ERR_WM_NAK);
    std::string text = cap.text();
    std::string second = text.substr(text.find('\n') + 1);
    EXPECT_TRUE(std::regex_match(
        second, std::regex(std::string("^") + stamp +
                           "wm_comm_write_rd: error reading response to command \"LO=1\": ERR_WM_NAK\n$")))
        << text;
}

TEST_F(WmPeer, CommandsOfTheTable) {
    int32_t fields[8] = {1, 2, 3, 4, 5, 6, 7, -8};
    peer.set_status(0x40000001u, fields);
    wm_status st;
    ASSERT_EQ(wm_read_status(&v.port, &st), 0);
    EXPECT_EQ(st.flags, 0x40000001u);
    EXPECT_EQ(st.fields[7], -8);

    uint8_t cal[40];
    uint32_t n = 0;
    ASSERT_EQ(wm_read_cal_constants(&v.port, st.flags, cal, &n), 0);
    EXPECT_EQ(n, 40u);
    EXPECT_EQ(cal[39], 0xC0 + 39);
    peer.set_status(1, fields);
    ASSERT_EQ(wm_read_cal_constants(&v.port, 1, cal, &n), 0);
    EXPECT_EQ(n, 4u);

    ASSERT_EQ(wm_set_cl(&v.port, 0.123456789), 0);
    EXPECT_EQ(peer.last_cl(), "1234567");
    ASSERT_EQ(wm_set_cl(&v.port, -0.00000019), 0);
    EXPECT_EQ(peer.last_cl(), "-1");
    ASSERT_EQ(wm_set_ss(&v.port, 1.5), 0);
    EXPECT_EQ(peer.last_ss(), "1.500000");
    int32_t a = 0, b = 0;
    ASSERT_EQ(wm_read_rr(&v.port, 7, 3, &a, &b), 0);
    EXPECT_EQ(a, 10);
    EXPECT_EQ(b, 4);
    EXPECT_EQ(peer.commands(),
              (std::vector<std::string>{"MS?", "CC?", "CC?", "CL=1234567", "CL=-1", "SS=1.500000", "RR=7,3"}));
}

TEST_F(WmPeer, LaserSwitchesWithinTheRounds) {
    peer.set_laser_delay_ms(3500);
    ASSERT_EQ(wm_set_laser_with_wait(&v.port, true), 0);
    EXPECT_EQ(v.clock.slept_ms(), 4000);
    EXPECT_TRUE(peer.laser_on());
    ASSERT_EQ(wm_set_laser_with_wait(&v.port, false), 0);
    EXPECT_FALSE(peer.laser_on());
}

TEST_F(WmPeer, LaserTimeoutAfterTenRounds) {
    peer.set_laser_delay_ms(60000);
    test::SinkCapture cap;
    EXPECT_EQ(wm_set_laser_with_wait(&v.port, true), ERR_WM_LASER_CONTROL_TIMEOUT);
    EXPECT_EQ(cap.text(), "wm_set_laser_with_wait: timeout waiting for laser to switch ON\n");
    EXPECT_EQ(v.clock.slept_ms(), 10000);
    EXPECT_EQ(peer.commands().size(), 11u);
}

int abort_calls = 0;
bool abort_on_third() { return ++abort_calls == 3; }

TEST_F(WmPeer, LaserWaitHonoursTheAbortHook) {
    peer.set_laser_delay_ms(60000);
    abort_calls = 0;
    wm_set_abort_hook(&abort_on_third);
    EXPECT_EQ(wm_set_laser_with_wait(&v.port, false), 0);  // already off
    abort_calls = 0;
    EXPECT_EQ(wm_set_laser_with_wait(&v.port, true), ERR_DURIVIDI_ABORTED);
    wm_set_abort_hook(nullptr);
    EXPECT_EQ(v.clock.slept_ms(), 1000 + 2000);
}

TEST_F(WmPeer, MisbehavingMonitor) {
    test::SinkCapture cap;
    uint32_t status = 0;
    peer.inject(Fault::silence);
    EXPECT_EQ(wm_query_laser(&v.port, &status), ERR_WM_TIMEOUT);
    uint32_t s = 0;
    ASSERT_EQ(sio_get_timeout(v.handle(), &s), 0);
    EXPECT_EQ(s, 2u);

    peer.inject(Fault::garbage);
    EXPECT_EQ(wm_query_laser(&v.port, &status), ERR_WM_READ);
    peer.inject(Fault::bad_ack);
    EXPECT_EQ(wm_set_laser(&v.port, true), ERR_WM_READ);
    peer.inject(Fault::truncate);
    wm_status st;
    EXPECT_EQ(wm_read_status(&v.port, &st), ERR_WM_READ);
    EXPECT_EQ(st.flags, 0u);

    // Stray bytes before an answer shift it; a flush recovers the line.
    peer.inject(Fault::unsolicited);
    EXPECT_EQ(wm_query_laser(&v.port, &status), ERR_WM_READ);
    EXPECT_EQ(wm_flush_inp(&v.port), 0);
    EXPECT_EQ(wm_query_laser(&v.port, &status), 0);
    peer.inject(Fault::overlong);
    EXPECT_EQ(wm_query_laser(&v.port, &status), 0);
    EXPECT_EQ(v.line->pending(), 16u);
    EXPECT_EQ(wm_flush_inp(&v.port), 0);
    EXPECT_EQ(v.line->pending(), 0u);

    peer.set_samples({5, 6, 7});
    wm_buffer buf;
    ASSERT_EQ(wm_comm_write_rd(&v.port, "DA?", &buf, 0, 4, WM_RESP_SIZE_READ_ACK, 0), 0);
    EXPECT_EQ(buf.length, 17u);
    peer.inject(Fault::huge_count);
    EXPECT_EQ(wm_comm_write_rd(&v.port, "DA?", &buf, 0, 4, WM_RESP_SIZE_READ_ACK, 0), ERR_WM_READ);
    EXPECT_EQ(buf.data, nullptr);

    cap.clear();
    v.line->faults.purge = 3;
    EXPECT_EQ(wm_flush_inp(&v.port), ERR_WM_COMM);
    EXPECT_EQ(cap.text(), "wm_flush_inp: sio_clear_buffer failed\n");
    EXPECT_EQ(wm_flush_inp(nullptr), ERR_WM_COMM);
}

}  // namespace
}  // namespace mf
